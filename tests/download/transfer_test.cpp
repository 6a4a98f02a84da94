// What reaches the target: random images byte for byte, whole-block assembly, relocation by the
// ROM offset, the fixed-IP bytes of a bootloader, and whole-file streaming.
#include <random>

#include "tests/download/job_fixture.h"
#include "tests/image/piece_checks.h"

namespace dz::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class TransferJob : public JobTest {};

TEST_F(TransferJob, RandomImagesArriveByteForByteInOrderedPieces) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    TearDown();
    SetUp();
    verify_after_write = round % 2;
    const std::uint32_t start = 0x80000000u + static_cast<std::uint32_t>(rng() % 64) * 0x10000;
    const std::uint32_t length = 0x4000 + static_cast<std::uint32_t>(rng() % 0x10000);
    const auto records = random_records(rng, start, length, 2 + round, 3000);
    const auto path = dir_.write("nk.bin", make_image(start, length, records));
    ASSERT_EQ(run_image(0, path), 1);

    std::size_t total = 0;
    for (const auto& r : records) {
      ASSERT_EQ(flash_bytes(r.address, r.data.size()), r.data);
      total += r.data.size();
    }
    EXPECT_EQ(flash_size(), total);
    // Pieces of at most 1 KiB, each record's pieces in address order, each inside its record.
    std::vector<Piece> pieces;
    for (const auto& w : calls_of("write")) pieces.push_back({w.address, w.bytes});
    expect_pieces_match(pieces, records, 1024);
    EXPECT_EQ(calls_of("verify").size(), round % 2 ? calls_of("write").size() : 0u);
    EXPECT_EQ(values(EventKind::progress_range, IDD_DOWNLOAD, IDC_TOTAL_BAR).back(), total);
  }
}

TEST_F(TransferJob, WholeBlockModeWritesTheAssembledBuffer) {
  recorder().block_span = 0x4000;
  verify_after_write = 1;
  const std::vector<std::uint8_t> a(300, 0x11), b(100, 0x22);
  const auto path =
      dir_.write("eboot.bin", make_image(0x80000000, 0x1000, {{0x80000100, a}, {0x80000800, b}}));
  EXPECT_EQ(run_image(0, path, 1), 1);

  const auto writes = calls_of("write");
  ASSERT_EQ(writes.size(), 8u);
  for (std::size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].address, 0x80000000u + i * 0x800);
    EXPECT_EQ(writes[i].length, 0x800u);
  }
  EXPECT_EQ(calls_of("verify").size(), 8u);
  auto expected = std::vector<std::uint8_t>(0x4000, 0xFF);
  std::copy(a.begin(), a.end(), expected.begin() + 0x100);
  std::copy(b.begin(), b.end(), expected.begin() + 0x800);
  EXPECT_EQ(flash_bytes(0x80000000, 0x4000), expected);
  EXPECT_THAT(texts(IDD_DOWNLOAD, IDC_SECTION_TEXT),
              ElementsAre("Section Starting at 80000000, Length 00004000:"));
  EXPECT_THAT(values(EventKind::progress_range, IDD_DOWNLOAD, IDC_TOTAL_BAR), ElementsAre(0x4000));
  // The erase still covers what the header declares.
  EXPECT_EQ(calls_of("erase")[0].length, 0x1000u);
}

TEST_F(TransferJob, RecordsOutsideTheImageAreRefusedEvenWhereTheBlockWouldHoldThem) {
  for (std::uint32_t address : {0x7FFFFF00u, 0x80000F80u, 0x80000780u, 0x90000000u}) {
    SCOPED_TRACE(address);
    TearDown();
    SetUp();
    recorder().block_span = 0x1000;
    const auto path = dir_.write(
        "out.bin",
        make_image(0x80000000, 0x800,
                   {{0x80000000, {1, 2, 3}}, {address, std::vector<std::uint8_t>(0x100)}}));
    EXPECT_EQ(run_image(0, path), 0);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_THAT(boxes()[0].text, HasSubstr("Outside the Image"));
    EXPECT_TRUE(ops().empty());
  }
}

TEST_F(TransferJob, RomOffsetMovesImageWritesButNotTheEraseNorABootloader) {
  rom_offset_enable = 1;
  rom_offset = 0x10000000;
  const auto path =
      dir_.write("nk.bin", make_image(0x80010000, 0x2000,
                                      {{0x80010000, std::vector<std::uint8_t>(100, 7)},
                                       {0x80011000, std::vector<std::uint8_t>(50, 8)}}));
  EXPECT_EQ(run_image(0, path), 1);
  EXPECT_EQ(calls_of("erase")[0].address, 0x80010000u);
  EXPECT_EQ(calls_of("erase")[0].length, 0x2000u);
  EXPECT_EQ(calls_of("write")[0].address, 0x90010000u);
  EXPECT_EQ(calls_of("write")[1].address, 0x90011000u);
  EXPECT_THAT(texts(IDD_DOWNLOAD, IDC_SECTION_TEXT),
              ElementsAre("Section Starting at 90010000, Length 00000064:",
                          "Section Starting at 90011000, Length 00000032:"));
  // The map follows: base 0x90010000, 64 KiB in 128-byte cells.
  EXPECT_EQ(last_map()[0], 3);
  EXPECT_EQ(last_map()[32], 3);

  // The default offset wraps around the top of the address space.
  reset_recorder();
  rom_offset = 0xF2020000;
  EXPECT_EQ(run_image(0, path), 1);
  EXPECT_EQ(calls_of("write")[0].address, 0x72030000u);

  reset_recorder();
  EXPECT_EQ(run_image(0, path, 1), 1);
  EXPECT_EQ(calls_of("write")[0].address, 0x80010000u);
}

TEST_F(TransferJob, FixedIpPatchesBytes4To11AndWritesTheWholePiece) {
  fix_ip = 1;
  verify_after_write = 1;
  std::vector<std::uint8_t> boot(1500);
  for (std::size_t i = 0; i < boot.size(); ++i) boot[i] = static_cast<std::uint8_t>(i);
  const auto path = dir_.write("eboot.bin", make_image(0x80000000, 1500, {{0x80000000, boot}}));
  EXPECT_EQ(run_image(0, path, 1), 1);
  const auto writes = calls_of("write");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].length, 1024u);
  auto expected = boot;
  const std::uint8_t settings[8] = {0xC0, 0xA8, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0x00};
  std::copy(std::begin(settings), std::end(settings), expected.begin() + 4);
  EXPECT_EQ(flash_bytes(0x80000000, 1500), expected);
  EXPECT_EQ(calls_of("verify")[0].bytes, writes[0].bytes);
  EXPECT_EQ(writes[1].address, 0x80000400u);  // the second piece is not patched
  EXPECT_EQ(writes[1].bytes[4], boot[1024 + 4]);

  // Other settings, most significant octet first.
  reset_recorder();
  fixed_ip = 0x0A000203;
  fixed_subnet = 0xFFFF0000;
  EXPECT_EQ(run_image(0, path, 1), 1);
  EXPECT_THAT(flash_bytes(0x80000004, 8), ElementsAre(10, 0, 2, 3, 255, 255, 0, 0));

  // Not for an OS image.
  reset_recorder();
  EXPECT_EQ(run_image(0, path, 0), 1);
  EXPECT_EQ(flash_bytes(0x80000000, 1500), boot);
}

// Each byte reaches the flash once, with its final value: the settings go into whichever
// records carry bytes 4..11, in whatever order the file holds them.
TEST_F(TransferJob, FixedIpGoesIntoWhicheverRecordsCoverBytes4To11) {
  fix_ip = 1;
  const std::vector<std::uint8_t> head = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
  const std::vector<std::uint8_t> tail(0x20, 0x11);
  for (bool tail_first : {false, true}) {
    SCOPED_TRACE(tail_first);
    reset_recorder();
    std::vector<ImageRecord> records = {{0x80000000, head}, {0x80000005, tail}};
    if (tail_first) std::swap(records[0], records[1]);
    const auto path = dir_.write("eboot.bin", make_image(0x80000000, 0x100, records));
    EXPECT_EQ(run_image(0, path, 1), 1);
    std::size_t written = 0;
    for (const auto& w : calls_of("write")) written += w.length;
    EXPECT_EQ(written, flash_size());  // no byte written twice
    EXPECT_EQ(written, 0x25u);
    std::vector<std::uint8_t> expected = {0xAA, 0xBB, 0xCC, 0xDD, 0xC0, 0xA8,
                                          0x00, 0x01, 0xFF, 0xFF, 0xFF, 0x00};
    expected.resize(0x25, 0x11);
    EXPECT_EQ(flash_bytes(0x80000000, 0x25), expected);
  }

  // A record that starts below 0x80000000 and runs across it carries the settings too.
  reset_recorder();
  const auto across =
      dir_.write("across.bin",
                 make_image(0x7FFFFF00, 0x200, {{0x7FFFFF00, std::vector<std::uint8_t>(0x200)}}));
  EXPECT_EQ(run_image(0, across, 1), 1);
  EXPECT_THAT(flash_bytes(0x80000000, 12),
              ElementsAre(0, 0, 0, 0, 0xC0, 0xA8, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0x00));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(TransferJob, FixedIpWithNowhereToGoIsRefusedOrReported) {
  fix_ip = 1;
  // Data at 0x80000000, but a gap where the subnet mask belongs: refused, nothing touched.
  const auto gap = dir_.write(
      "gap.bin", make_image(0x80000000, 0x100,
                            {{0x80000000, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xEF, 0xF0, 0xF1, 0xF2}},
                             {0x80000080, {1, 2, 3}}}));
  EXPECT_EQ(run_image(0, gap, 1), 0);
  EXPECT_THAT(box_texts(),
              ElementsAre("Cannot Program Fix IP: the Image Has No Data at 0x80000009\r\n"));
  EXPECT_TRUE(ops().empty());
  // The same image as an OS image: the settings are not its concern.
  EXPECT_EQ(run_image(0, gap, 0), 1);
  EXPECT_EQ(boxes().size(), 1u);

  // No data at 0x80000000 at all: the user is told, the image goes down unchanged.
  reset_recorder();
  const auto elsewhere = dir_.write(
      "elsewhere.bin",
      make_image(0x80040000, 0x100, {{0x80040000, std::vector<std::uint8_t>(0x100, 0x42)}}));
  EXPECT_EQ(run_image(0, elsewhere, 1), 1);
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[1].caption, "Warning");
  EXPECT_THAT(boxes()[1].text, HasSubstr("no data at 0x80000000"));
  EXPECT_EQ(flash_bytes(0x80040000, 0x100), std::vector<std::uint8_t>(0x100, 0x42));

  // Without Fix IP nothing is said.
  fix_ip = 0;
  EXPECT_EQ(run_image(0, elsewhere, 1), 1);
  EXPECT_EQ(boxes().size(), 2u);
}

TEST_F(TransferJob, FixedIpInWholeBlockMode) {
  fix_ip = 1;
  recorder().block_span = 0x1000;
  const auto path = dir_.write(
      "eboot.bin",
      make_image(0x80000000, 0x1000, {{0x80000000, std::vector<std::uint8_t>(64, 0x5A)}}));
  EXPECT_EQ(run_image(0, path, 1), 1);
  const auto writes = calls_of("write");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].length, 0x800u);
  EXPECT_EQ(writes[1].address, 0x80000800u);
  auto expected = std::vector<std::uint8_t>(0x1000, 0xFF);
  std::fill(expected.begin(), expected.begin() + 64, 0x5A);
  const std::uint8_t settings[8] = {0xC0, 0xA8, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0x00};
  std::copy(std::begin(settings), std::end(settings), expected.begin() + 4);
  EXPECT_EQ(flash_bytes(0x80000000, 0x1000), expected);
}

TEST_F(TransferJob, RawFileStreamsIn32KiBPiecesFromTheTypedStart) {
  verify_after_write = 1;  // never used while streaming
  const auto data = random_bytes(*std::make_unique<std::mt19937>(5), 100000);
  const auto path = dir_.write("raw.bin", data);
  EXPECT_EQ(run_raw(0, path, 0x80100000), 1);
  const auto writes = calls_of("write");
  ASSERT_EQ(writes.size(), 4u);
  const std::uint32_t lengths[] = {32768, 32768, 32768, 1696};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(writes[i].address, 0x80100000u + i * 32768);
    EXPECT_EQ(writes[i].length, lengths[i]);
  }
  EXPECT_EQ(flash_bytes(0x80100000, data.size()), data);
  EXPECT_TRUE(calls_of("verify").empty());
  EXPECT_EQ(calls_of("erase")[0].address, 0x80100000u);
  EXPECT_EQ(calls_of("erase")[0].length, 100000u);
  EXPECT_THAT(values(EventKind::progress_range, IDD_DOWNLOAD, IDC_TOTAL_BAR),
              ElementsAre(100000 >> 8));
  EXPECT_FALSE(was_shown(IDD_DOWNLOAD, IDC_FLASH_MAP));
  EXPECT_FALSE(was_shown(IDD_DOWNLOAD, IDC_SECTION_BAR));
  EXPECT_TRUE(was_shown(IDD_DOWNLOAD, IDC_TOTAL_BAR));
}

TEST_F(TransferJob, StreamingInterfaceGetsTheImageFileUnchanged) {
  const auto image =
      make_image(0x80000000, 0x100, {{0x80000000, std::vector<std::uint8_t>(70000, 3)}});
  const auto path = dir_.write("nk.bin", image);
  EXPECT_EQ(run_image(serial_interface_index, path), 1);
  EXPECT_EQ(calls_of("write").size(), 3u);
  EXPECT_EQ(flash_bytes(0x80000000, image.size()), image);
  // The monitor ran beside the transfer, in the output field the job showed for it.
  EXPECT_TRUE(was_shown(IDD_DOWNLOAD, IDC_MONITOR_OUTPUT));
  for (int i = 0; i < 5000 && recorder().monitor_done == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(recorder().monitor_done.load(), 1);
}

TEST_F(TransferJob, StreamingStopsAtAFailedWriteOrAnAbortAfterThePiece) {
  const auto path = dir_.write("raw.bin", std::vector<std::uint8_t>(5 * 32768, 1));
  recorder().fail_write_at = 1;
  EXPECT_EQ(run_raw(serial_interface_index, path, 0x80000000), 0);
  EXPECT_THAT(ops(), ElementsAre("detect", "open", "erase", "write", "write", "close"));
  EXPECT_TRUE(boxes().empty());  // the interface has said why
  // An abort ends with success.
  reset_recorder();
  recorder().abort_at_write = 0;
  EXPECT_EQ(run_raw(serial_interface_index, path, 0x80000000), 1);
  EXPECT_THAT(ops(), ElementsAre("detect", "open", "erase", "write", "close"));
}

}  // namespace
}  // namespace dz::testing
