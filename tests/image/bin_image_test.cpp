// The Windows CE image reader: classification, the main window's description, hexadecimal
// fields, and reading images record by record (random, truncated, oversized, odd records).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "image/bin_image.h"
#include "platform/ui.h"
#include "platform/ui_headless.h"
#include "resources/resource.h"
#include "tests/image/piece_checks.h"

namespace dz {
namespace {

using testing::expect_pieces_match;
using testing::ImageRecord;
using testing::make_image;
using testing::Piece;
using testing::TempDir;

// A reader with the header and the record table it fills.
struct Reader {
  BinImageHeader header;
  BinRecordTable table;
  BinImageReader reader;
  int open(const std::string& path) { return reader.open(path, header, table); }
};

// Reads the whole image through the reader in pieces of `piece` bytes, checking the reader's
// index contract on the way.
std::vector<Piece> read_all(const std::string& path, std::uint32_t piece, int& count) {
  Reader r;
  count = r.open(path);
  std::vector<Piece> pieces;
  if (count == 0) return pieces;
  std::vector<std::uint8_t> buffer(piece);
  for (int guard = 0; guard < 1'000'000; ++guard) {
    const int current = r.reader.current_record();
    if (is_terminator(r.table[static_cast<std::size_t>(current)])) break;
    std::uint32_t address = 0;
    std::uint32_t n = piece;
    const int next = r.reader.read_piece(buffer.data(), address, n);
    EXPECT_GT(n, 0u);
    pieces.push_back({address, {buffer.begin(), buffer.begin() + n}});
    if (next == bin_end_marker) break;
    EXPECT_GE(next, current);
  }
  return pieces;
}

TEST(ParseHex, ReadsTheMainWindowFields) {
  EXPECT_EQ(parse_hex("0x00040000 (256 KB)"), 0x40000u);
  EXPECT_EQ(parse_hex("0X1f"), 0x1Fu);
  EXPECT_EQ(parse_hex("12 34"), 0x12u);
  EXPECT_EQ(parse_hex(""), 0u);
  EXPECT_EQ(parse_hex("0x"), 0u);
  EXPECT_EQ(parse_hex("xyz"), 0u);
  EXPECT_EQ(parse_hex("80000000"), 0x80000000u);
  EXPECT_EQ(parse_hex("aBcDeF01"), 0xABCDEF01u);
  EXPECT_EQ(parse_hex("0x123456789"), 0x23456789u);  // wraps at 32 bits
  EXPECT_EQ(parse_hex("0x0x5"), 0u);
}

TEST(Classify, SignatureDecides) {
  TempDir dir;
  EXPECT_EQ(classify(dir.path("missing.bin")).kind, ImageKind::unreadable);
  EXPECT_EQ(classify(dir.write("short.bin", {'B', '0', '0', '0', 'F', 'F'})).kind, ImageKind::raw);
  EXPECT_EQ(classify(dir.write("empty.bin", {})).kind, ImageKind::raw);
  const auto sig = classify(dir.write("sig.bin", {'B', '0', '0', '0', 'F', 'F', '\n'}));
  EXPECT_EQ(sig.kind, ImageKind::wince);
  EXPECT_EQ(sig.file_size, 7u);
  EXPECT_EQ(classify(dir.write("cr.bin", {'B', '0', '0', '0', 'F', 'F', '\r', 0, 0})).kind,
            ImageKind::raw);
  const auto image = classify(dir.write("nk.bin", make_image(0x80040000, 0x1234, {})));
  EXPECT_EQ(image.kind, ImageKind::wince);
  EXPECT_EQ(image.header.image_start, 0x80040000u);
  EXPECT_EQ(image.header.image_length, 0x1234u);
}

TEST(Describe, FillsEitherHalfOfTheMainWindow) {
  TempDir dir;
  const auto image = dir.write("nk.bin", make_image(0x80040000, 0x40000, {}));
  const auto raw = dir.write("raw.bin", std::vector<std::uint8_t>(5000, 0x11));
  ui::DialogProc proc;
  proc.init = [&](ui::Window dlg, std::intptr_t) {
    describe(dlg, image, true);
    EXPECT_EQ(ui::text(dlg, IDC_BOOT_TYPE), "WinCE");
    EXPECT_EQ(ui::text(dlg, IDC_BOOT_START), "0x80040000");
    EXPECT_EQ(ui::text(dlg, IDC_BOOT_LENGTH), "0x00040000 (256 KB)");
    EXPECT_TRUE(ui::is_read_only(dlg, IDC_BOOT_START));
    EXPECT_TRUE(ui::is_enabled(dlg, IDC_BOOT_DOWNLOAD));
    EXPECT_EQ(parse_hex(ui::text(dlg, IDC_BOOT_LENGTH)), 0x40000u);

    describe(dlg, raw, false);
    EXPECT_EQ(ui::text(dlg, IDC_IMAGE_TYPE), "Raw");
    EXPECT_EQ(ui::text(dlg, IDC_IMAGE_START), "0x80000000");
    EXPECT_EQ(ui::text(dlg, IDC_IMAGE_LENGTH), "0x00001388 (4 KB)");
    EXPECT_FALSE(ui::is_read_only(dlg, IDC_IMAGE_START));
    EXPECT_TRUE(ui::is_enabled(dlg, IDC_IMAGE_DOWNLOAD));
    // The bootloader half was not touched.
    EXPECT_EQ(ui::text(dlg, IDC_BOOT_TYPE), "WinCE");

    describe(dlg, dir.path("gone.bin"), false);
    EXPECT_EQ(ui::text(dlg, IDC_IMAGE_TYPE), "");
    EXPECT_EQ(ui::text(dlg, IDC_IMAGE_START), "");
    EXPECT_EQ(ui::text(dlg, IDC_IMAGE_LENGTH), "");
    EXPECT_FALSE(ui::is_enabled(dlg, IDC_IMAGE_DOWNLOAD));
    ui::end_dialog(dlg, 7);
  };
  EXPECT_EQ(ui::run_dialog(IDD_MAIN, ui::no_window, proc), 7);
}

TEST(BinImageReader, OneRecordYieldsItsIndexThenTheTerminator) {
  TempDir dir;
  std::vector<std::uint8_t> data(3000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  Reader r;
  ASSERT_EQ(r.open(dir.write("one.bin", make_image(0x80001000, 3000, {{0x80001000, data}}))), 2);
  auto& [header, table, reader] = r;
  EXPECT_EQ(header.image_start, 0x80001000u);
  EXPECT_EQ(table[1].length, 0x80001000u);  // terminator's length carried
  std::uint8_t buffer[1024];
  std::uint32_t address = 0;
  std::uint32_t n = 1024;
  EXPECT_EQ(reader.read_piece(buffer, address, n), 0);
  EXPECT_EQ(address, 0x80001000u);
  EXPECT_EQ(n, 1024u);
  EXPECT_EQ(table[0].address, 0x80001400u);  // the entry holds the next address to read
  EXPECT_EQ(table[0].length, 3000u - 1024u);
  n = 1024;
  EXPECT_EQ(reader.read_piece(buffer, address, n), 0);
  n = 1024;
  EXPECT_EQ(reader.read_piece(buffer, address, n), 1);
  EXPECT_EQ(address, 0x80001800u);
  EXPECT_EQ(n, 3000u - 2048u);
  EXPECT_EQ(0, std::memcmp(buffer, data.data() + 2048, n));
  EXPECT_EQ(reader.records_remaining(), 1);
  // Asking again past the end reads nothing.
  n = 1024;
  EXPECT_EQ(reader.read_piece(buffer, address, n), bin_end_marker);
  EXPECT_EQ(n, 0u);
}

TEST(BinImageReader, RandomImagesReadBackEveryByteAtItsAddress) {
  TempDir dir;
  std::mt19937 rng(20240611);
  for (int round = 0; round < 12; ++round) {
    const std::uint32_t start = 0x80000000u + static_cast<std::uint32_t>(rng() % 0x100) * 0x1000;
    const std::uint32_t length = 0x8000 + static_cast<std::uint32_t>(rng() % 0x20000);
    const auto records =
        testing::random_records(rng, start, length, 1 + round, round == 0 ? 300 : 5000);
    const auto path = dir.write("r.bin", make_image(start, length, records));
    const std::uint32_t piece = round == 0 ? 1 : 1 + static_cast<std::uint32_t>(rng() % 2048);
    int count = 0;
    const auto pieces = read_all(path, piece, count);
    ASSERT_EQ(count, static_cast<int>(records.size()) + 1);
    expect_pieces_match(pieces, records);
  }
}

TEST(BinImageReader, RefusesWhatIsNotAnImage) {
  TempDir dir;
  Reader r;
  auto& reader = r.reader;
  EXPECT_EQ(r.open(dir.path("none.bin")), 0);
  EXPECT_EQ(reader.error(), BinImageError::cannot_open);
  EXPECT_FALSE(reader.is_open());
  EXPECT_EQ(r.open(dir.write("raw.bin", std::vector<std::uint8_t>(100, 1))), 0);
  EXPECT_EQ(reader.error(), BinImageError::no_signature);
  EXPECT_EQ(r.open(dir.write("sig.bin", {'B', '0', '0', '0', 'F', 'F', '\n'})), 0);
  EXPECT_EQ(r.open(dir.write("hdr.bin", make_image(0x80000000, 16, {}, 0, false))), 0);
  EXPECT_EQ(reader.error(), BinImageError::no_records);
  std::uint8_t buffer[16];
  std::uint32_t address = 0;
  std::uint32_t n = sizeof buffer;
  EXPECT_EQ(reader.read_piece(buffer, address, n), bin_end_marker);
  EXPECT_EQ(n, 0u);
  // Records without the terminator: the image was cut.
  EXPECT_EQ(r.open(dir.write("noterm.bin",
                             make_image(0x80000000, 4, {{0x80000000, {1, 2, 3, 4}}}, 0, false))),
            0);
  EXPECT_EQ(reader.error(), BinImageError::truncated);
}

TEST(BinImageReader, TruncatedImagesAreRefusedAtEveryCut) {
  TempDir dir;
  std::mt19937 rng(7);
  const auto records = testing::random_records(rng, 0x80000000, 0x1000, 3, 24);
  const auto full = make_image(0x80000000, 0x1000, records, 0x80000000);
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    const std::vector<std::uint8_t> part(full.begin(), full.begin() + static_cast<long>(cut));
    Reader r;
    EXPECT_EQ(r.open(dir.write("cut.bin", part)), 0) << "cut at " << cut;
    if (cut >= 15) {
      EXPECT_EQ(r.reader.error(), cut == 15 ? BinImageError::no_records : BinImageError::truncated);
    }
  }
  int count = 0;
  expect_pieces_match(read_all(dir.write("full.bin", full), 100, count), records);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(bin_image_error_text(BinImageError::truncated), "Image File Is Truncated");
}

TEST(BinImageReader, TableLimitIs256RecordsWithTheTerminator) {
  TempDir dir;
  auto records_of = [](int n) {
    std::vector<ImageRecord> records;
    for (int i = 0; i < n; ++i) {
      records.push_back({0x80000000u + static_cast<std::uint32_t>(i) * 16,
                         std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(i))});
    }
    return records;
  };
  BinImageHeader header;
  // Guard entries beyond the table must stay untouched: the table is the first member.
  struct Guarded {
    BinRecordTable table;
    std::array<std::uint32_t, 16> guard;
  };
  auto guarded = std::make_unique<Guarded>();
  guarded->guard.fill(0xA5A5A5A5);
  BinImageReader reader;
  EXPECT_EQ(reader.open(dir.write("255.bin", make_image(0x80000000, 255 * 16, records_of(255))),
                        header, guarded->table),
            256);
  EXPECT_EQ(reader.open(dir.write("256.bin", make_image(0x80000000, 256 * 16, records_of(256))),
                        header, guarded->table),
            0);
  EXPECT_EQ(reader.error(), BinImageError::too_many_records);
  EXPECT_NE(bin_image_error_text(reader.error()).find("256"), std::string::npos);
  EXPECT_EQ(reader.open(dir.write("400.bin", make_image(0x80000000, 400 * 16, records_of(400))),
                        header, guarded->table),
            0);
  for (auto g : guarded->guard) EXPECT_EQ(g, 0xA5A5A5A5u);
}

TEST(BinImageReader, EmptyRecordsAreSkippedAndJunkAfterTheTerminatorIgnored) {
  TempDir dir;
  std::vector<ImageRecord> records = {{0x80000000, {}},
                                      {0x80000100, {1, 2, 3}},
                                      {0x80000200, {}},
                                      {0x80000200, {}},
                                      {0x80000300, {4, 5}}};
  auto bytes = make_image(0x80000000, 0x400, records, 0);
  bytes.insert(bytes.end(), {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
  Reader r;
  ASSERT_EQ(r.open(dir.write("gaps.bin", bytes)), 6);
  auto& [header, table, reader] = r;
  EXPECT_EQ(reader.current_record(), 1);  // the empty first record is passed over
  std::uint8_t buffer[64];
  std::uint32_t address = 0;
  std::uint32_t n = sizeof buffer;
  EXPECT_EQ(reader.read_piece(buffer, address, n), 4);
  EXPECT_EQ(address, 0x80000100u);
  EXPECT_EQ(n, 3u);
  n = sizeof buffer;
  EXPECT_EQ(reader.read_piece(buffer, address, n), 5);
  EXPECT_EQ(address, 0x80000300u);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(buffer[0], 4);
  EXPECT_TRUE(is_terminator(table[5]));
}

// The edges of what a download accepts: records may touch each other, the end of the image and
// the end of the address space; empty records are passed over; one byte too far is refused.
TEST(CheckImageFile, AcceptsRecordsUpToEveryEdgeAndNotOneByteBeyond) {
  TempDir dir;
  auto check = [&](std::uint32_t start, std::uint32_t length,
                   const std::vector<ImageRecord>& records) {
    BinRecordTable table;
    const auto path = dir.write("x.bin", make_image(start, length, records));
    return check_image_file(path, false, start, length, table);
  };
  const std::vector<std::uint8_t> k16(16, 1);
  ImageCheck ok = check(0x80000000, 0x30,
                        {{0x80000010, k16},
                         {0x80000000, k16},
                         {0x80000020, k16},
                         {0x80000008, {}},
                         {0x90000000, {}}});
  EXPECT_EQ(ok.fault, ImageFault::none);
  EXPECT_EQ(ok.data_bytes, 48u);
  EXPECT_EQ(ok.record_count, 6);
  EXPECT_EQ(check(0xFFFFFFF0, 0x10, {{0xFFFFFFF0, k16}}).fault, ImageFault::none);

  EXPECT_EQ(check(0x80000000, 0x2F, {{0x80000000, k16}, {0x80000020, k16}}).fault,
            ImageFault::record_outside);
  EXPECT_EQ(check(0x80000000, 0x30, {{0x80000000, k16}, {0x8000000F, k16}}).fault,
            ImageFault::records_overlap);
  EXPECT_EQ(check(0x80000000, 0x30, {{0x80000000, k16}, {0x80000000, k16}}).fault,
            ImageFault::records_overlap);
  EXPECT_EQ(check(0xFFFFFFF0, 0x10, {{0xFFFFFFF1, k16}}).fault, ImageFault::record_wraps);
  EXPECT_EQ(check(0xFFFFFFF0, 0x11, {{0xFFFFFFF0, k16}}).fault, ImageFault::range_wraps);

  // Raw files: any regular file with a byte in it.
  BinRecordTable table;
  EXPECT_EQ(check_image_file(dir.write("one.nb0", {0}), true, 0, 1, table).fault, ImageFault::none);
  EXPECT_EQ(check_image_file(dir.write("none.nb0", {}), true, 0, 0, table).fault,
            ImageFault::empty);
  // The texts name the records at fault.
  ImageCheck overlap;
  overlap.fault = ImageFault::records_overlap;
  overlap.record = {0x80000000, 0x10, 1};
  overlap.other = {0x8000000F, 0x10, 2};
  EXPECT_EQ(image_fault_text(overlap, "x"),
            "Image Records at 0x80000000 (Length 0x00000010) and 0x8000000f (Length 0x00000010) "
            "Overlap");
}

}  // namespace
}  // namespace dz
