// Whole download jobs through the recording interfaces: call order, what the Download dialog
// shows, verify, abort, failures at every stage, missing operations, detection outcomes.
#include <filesystem>
#include <thread>

#include "tests/download/job_fixture.h"

namespace dz::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 8));
  return v;
}

class SectionJob : public JobTest {
 protected:
  // Two records: 2500 bytes at the start, 1 KiB at +0x2000.
  std::string two_record_image() {
    return dir_.write("nk.bin",
                      make_image(0x80000000, 0x3000,
                                 {{0x80000000, pattern(2500, 1)}, {0x80002000, pattern(1024, 2)}}));
  }
};

TEST_F(SectionJob, CallOrderTextsBarsAndMap) {
  verify_after_write = 1;
  EXPECT_EQ(run_image(0, two_record_image()), 1);

  EXPECT_THAT(ops(), ElementsAre("detect", "open", "erase", "write", "verify", "write", "verify",
                                 "write", "verify", "write", "verify", "close"));
  const auto erase = calls_of("erase");
  EXPECT_EQ(erase[0].address, 0x80000000u);
  EXPECT_EQ(erase[0].length, 0x3000u);
  const auto writes = calls_of("write");
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {0x80000000, 1024}, {0x80000400, 1024}, {0x80000800, 452}, {0x80002000, 1024}};
  ASSERT_EQ(writes.size(), expected.size());
  const auto verifies = calls_of("verify");
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(writes[i].address, expected[i].first);
    EXPECT_EQ(writes[i].length, expected[i].second);
    EXPECT_EQ(verifies[i].address, writes[i].address);
    EXPECT_EQ(verifies[i].bytes, writes[i].bytes);
  }
  EXPECT_EQ(flash_bytes(0x80000000, 2500), pattern(2500, 1));
  EXPECT_EQ(flash_bytes(0x80002000, 1024), pattern(1024, 2));
  EXPECT_EQ(flash_size(), 3524u);

  // Detection, then the Download dialog with its stages, sections and bars.
  EXPECT_THAT(events_of(EventKind::caption_changed, IDD_DETECTION),
              ElementsAre(::testing::Field(&Event::text, "Device Detection (JTag Interface)")));
  EXPECT_THAT(texts(IDD_DOWNLOAD, IDC_STAGE_TEXT),
              ElementsAre("Initializing Interface...", "Erasing Flash...", "Total Download:",
                          "Total Download:", "Finalizing Download (please wait)..."));
  EXPECT_THAT(texts(IDD_DOWNLOAD, IDC_TARGET_TEXT), ElementsAre("PXA270 C5 Test Flash 32MB"));
  EXPECT_THAT(texts(IDD_DOWNLOAD, IDC_SECTION_TEXT),
              ElementsAre("Section Starting at 80000000, Length 000009c4:",
                          "Section Starting at 80002000, Length 00000400:"));
  EXPECT_THAT(values(EventKind::progress_range, IDD_DOWNLOAD, IDC_TOTAL_BAR), ElementsAre(3524));
  EXPECT_THAT(values(EventKind::progress_range, IDD_DOWNLOAD, IDC_SECTION_BAR),
              ElementsAre(2500, 1024));
  for (int id : {IDC_TOTAL_BAR, IDC_SECTION_BAR, IDC_SECTION_TEXT, IDC_FLASH_MAP}) {
    EXPECT_TRUE(was_shown(IDD_DOWNLOAD, id)) << id;
  }
  EXPECT_FALSE(was_shown(IDD_DOWNLOAD, IDC_MONITOR_OUTPUT));
  EXPECT_THAT(values(EventKind::dialog_closed, IDD_DOWNLOAD, -1), ElementsAre(1));
  EXPECT_TRUE(boxes().empty());

  // 64 KiB map of 128-byte cells: cells 0..19 and 64..71 hold image, written and verified.
  const auto map = last_map();
  ASSERT_EQ(map.size(), 512u);
  for (int cell = 0; cell < 512; ++cell) {
    const bool in_image = cell <= 19 || (cell >= 64 && cell <= 71);
    EXPECT_EQ(map[static_cast<std::size_t>(cell)], in_image ? 7 : 0) << cell;
  }
  // Every piece is painted after its write and after its verify.
  EXPECT_EQ(events_of(EventKind::map_painted, IDD_DOWNLOAD, IDC_FLASH_MAP).size(), 1u + 4 * 2);
}

TEST_F(SectionJob, WithoutVerifyNothingIsVerified) {
  EXPECT_EQ(run_image(0, two_record_image()), 1);
  EXPECT_TRUE(calls_of("verify").empty());
  EXPECT_EQ(calls_of("write").size(), 4u);
  const auto map = last_map();
  EXPECT_EQ(map[0], 3);
  EXPECT_EQ(map[64], 3);
  EXPECT_EQ(map[30], 0);
  // A record without verify slot is fine as long as verification is off.
  reset_recorder();
  EXPECT_EQ(run_image(3, two_record_image()), 1);
  EXPECT_EQ(calls_of("write").size(), 4u);
}

TEST_F(SectionJob, EachFailingStageNamesItselfAndEndsTheJob) {
  struct Case {
    const char* name;
    void (*arm)(Recorder&);
    const char* message;
    std::vector<std::string> ops;
  };
  const std::vector<Case> cases = {
      {"open",
       [](Recorder& r) { r.fail_open = true; },
       "Initializing Interface\r\n",
       {"detect", "open"}},
      {"erase",
       [](Recorder& r) { r.fail_erase = true; },
       "Erasing Flash\r\n",
       {"detect", "open", "erase", "close"}},
      {"write",
       [](Recorder& r) { r.fail_write_at = 1; },
       "Writing Flash\r\n",
       {"detect", "open", "erase", "write", "verify", "write", "close"}},
      {"verify",
       [](Recorder& r) { r.fail_verify_at = 2; },
       "Verifying Flash\r\n",
       {"detect", "open", "erase", "write", "verify", "write", "verify", "write", "verify",
        "close"}},
  };
  const auto image = two_record_image();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    verify_after_write = 1;
    c.arm(recorder());
    EXPECT_EQ(run_image(0, image), 0);
    EXPECT_EQ(ops(), c.ops);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, c.message);
    EXPECT_EQ(boxes()[0].caption, "Error");
    EXPECT_EQ(boxes()[0].flags, ui::MB_ICONERROR);
    EXPECT_THAT(values(EventKind::dialog_closed, IDD_DOWNLOAD, -1), ElementsAre(0));
  }
}

TEST_F(SectionJob, AbortEndsAfterTheCurrentPieceAndCloses) {
  verify_after_write = 1;
  const auto image =
      dir_.write("big.bin", make_image(0x80000000, 0x4000, {{0x80000000, pattern(0x4000, 3)}}));
  recorder().abort_at_write = 2;  // the user presses Abort while the third piece is written
  EXPECT_EQ(run_image(0, image), 1);
  EXPECT_THAT(ops(), ElementsAre("detect", "open", "erase", "write", "verify", "write", "verify",
                                 "write", "verify", "close"));
  EXPECT_EQ(abort_flag.load(), 1);
  EXPECT_TRUE(boxes().empty());
}

// Every file that cannot be downloaded is refused with its reason before detection starts: the
// target is not touched at all.
TEST_F(SectionJob, FilesThatCannotBeDownloadedAreRefusedBeforeDetection) {
  struct Case {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string text;  // "%s" stands for the path
    int is_raw = 0;
  };
  std::vector<ImageRecord> many;
  for (std::uint32_t i = 0; i < 300; ++i) many.push_back({0x80000000 + i * 4, {1, 2, 3, 4}});
  auto cut = make_image(0x80000000, 0x100, {{0x80000000, pattern(0x100, 5)}});
  cut.resize(cut.size() - 20);
  const std::vector<Case> cases = {
      {"raw.bin", pattern(100, 0), "Image File Is Not a Windows CE Image (%s)"},
      {"header.bin", make_image(0x80000000, 0x100, {}, 0, false), "Image File Has No Records"},
      {"many.bin", make_image(0x80000000, 1200, many),
       "Image File Has Too Many Records (more than 256)"},
      {"cut.bin", cut, "Image File Is Truncated"},
      {"noterm.bin", make_image(0x80000000, 4, {{0x80000000, {1, 2, 3, 4}}}, 0, false),
       "Image File Is Truncated"},
      {"after.bin",
       make_image(0x80000000, 0x100, {{0x80000000, pattern(0x80, 1)}, {0x80000100, {1}}}),
       "Image Record at 0x80000100 (Length 0x00000001) Lies Outside the Image"},
      {"before.bin", make_image(0x80000000, 0x100, {{0x7FFFFFFF, {1, 2}}}),
       "Image Record at 0x7fffffff (Length 0x00000002) Lies Outside the Image"},
      {"overlap.bin",
       make_image(
           0x80000000, 0x100,
           {{0x80000010, pattern(0x20, 1)}, {0x80000040, {1}}, {0x80000000, pattern(0x11, 2)}}),
       "Image Records at 0x80000000 (Length 0x00000011) and 0x80000010 (Length 0x00000020) "
       "Overlap"},
      {"wrap.bin", make_image(0xFFFFFF00, 0x100, {{0xFFFFFF80, pattern(0x100, 3)}}),
       "Image Record at 0xffffff80 (Length 0x00000100) Runs Past the End of the Address Space"},
      {"range.bin", make_image(0xFFFFFF00, 0x200, {{0xFFFFFF00, pattern(0x10, 3)}}),
       "Image Range Runs Past the End of the Address Space"},
      {"term.bin", make_image(0x80000000, 0x1000, {}), "Image File Contains No Data"},
      {"zeros.bin", make_image(0x80000000, 0x1000, {{0x80000000, {}}, {0x80000010, {}}}),
       "Image File Contains No Data"},
      {"empty.nb0", {}, "Image File Is Empty (%s)", 1},
      {"empty.bin", {}, "Image File Is Empty (%s)", 0},
  };
  std::size_t shown = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir_.write(c.name, c.bytes);
    const ImageInfo info = classify(path);
    const std::uint32_t start = c.is_raw ? 0x80000000 : info.header.image_start;
    const auto length =
        c.is_raw ? static_cast<std::uint32_t>(info.file_size) : info.header.image_length;
    EXPECT_EQ(start_download_job(ui::no_window, 0, path, c.is_raw, start, length, 0), 0);
    ASSERT_EQ(boxes().size(), ++shown);
    std::string text = c.text;
    if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, path);
    EXPECT_EQ(boxes().back().text, text + "\r\n");
    EXPECT_EQ(boxes().back().caption, "Error");
  }
  // Things that are not files with contents.
  std::filesystem::create_directory(dir_.path("folder"));
  std::vector<std::pair<std::string, std::string>> others = {
      {dir_.path("folder"), "Image File Is Not a Regular File (%s)"},
      {dir_.path("gone.bin"), "Cannot Open Image File (%s)"},
  };
  std::error_code ec;
  if (std::filesystem::is_character_file("/dev/zero", ec))  // endless: never to be streamed
    others.emplace_back("/dev/zero", "Image File Is Not a Regular File (%s)");
  for (const auto& [path, format] : others) {
    for (int is_raw : {0, 1}) {
      EXPECT_EQ(start_download_job(ui::no_window, 0, path, is_raw, 0x80000000, 0x1000, 0), 0);
      ASSERT_EQ(boxes().size(), ++shown);
      std::string text = format;
      text.replace(text.find("%s"), 2, path);
      EXPECT_EQ(boxes().back().text, text + "\r\n");
    }
  }
  EXPECT_TRUE(ops().empty());
  EXPECT_EQ(dialogs_opened(IDD_DETECTION), 0);
  EXPECT_EQ(dialogs_opened(IDD_DOWNLOAD), 0);
}

TEST_F(SectionJob, AnImageMovedPastTheEndOfTheAddressSpaceIsRefused) {
  rom_offset_enable = 1;
  rom_offset = 0x80000000;
  const auto image =
      dir_.write("nk.bin", make_image(0x7FFFFF00, 0x200, {{0x7FFFFF00, pattern(0x200, 4)}}));
  EXPECT_EQ(run_image(0, image), 0);
  EXPECT_THAT(box_texts(), ElementsAre("Image Moved by the Offset 0x80000000 Runs Past the End of "
                                       "the Address Space\r\n"));
  EXPECT_TRUE(ops().empty());
  // A bootloader is never moved.
  EXPECT_EQ(run_image(0, image, 1), 1);
  EXPECT_EQ(flash_bytes(0x7FFFFF00, 0x200), pattern(0x200, 4));
}

// Detection can take long: the file is looked at again right before the erase.
TEST_F(SectionJob, AFileSpoiltDuringDetectionIsRefusedBeforeTheErase) {
  const auto good = make_image(0x80000000, 0x100, {{0x80000000, pattern(0x100, 5)}});
  const auto image = dir_.write("nk.bin", good);
  recorder().during_open = [&] {
    dir_.write("nk.bin", std::vector<std::uint8_t>(good.begin(), good.end() - 30));
  };
  EXPECT_EQ(run_image(0, image), 0);
  EXPECT_THAT(box_texts(), ElementsAre("Image File Is Truncated\r\n"));
  EXPECT_THAT(ops(), ElementsAre("detect", "open", "close"));
}

// A streaming interface gets the file unchanged and its module reads the image (an empty file
// included); only what is not a file with fixed contents is refused for it.
TEST_F(SectionJob, StreamingInterfacesRefuseOnlyWhatIsNotAFile) {
  auto cut = make_image(0x80000000, 0x100, {{0x80000000, pattern(0x100, 5)}});
  cut.resize(cut.size() - 20);
  EXPECT_EQ(run_image(serial_interface_index, dir_.write("cut.bin", cut)), 1);
  EXPECT_EQ(flash_bytes(0x80000000, cut.size()), cut);
  reset_recorder();
  EXPECT_EQ(run_raw(serial_interface_index, dir_.write("empty.bin", {}), 0x80000000), 1);
  EXPECT_THAT(ops(), ElementsAre("detect", "open", "erase", "close"));
  reset_recorder();
  std::filesystem::create_directory(dir_.path("folder"));
  const auto folder = dir_.path("folder");
  const auto gone = dir_.path("gone.bin");
  EXPECT_EQ(start_download_job(ui::no_window, serial_interface_index, folder, 0, 0x80000000, 0, 0),
            0);
  EXPECT_EQ(start_download_job(ui::no_window, serial_interface_index, gone, 1, 0x80000000, 10, 0),
            0);
  EXPECT_THAT(box_texts(), ElementsAre("Image File Is Not a Regular File (" + folder + ")\r\n",
                                       "Cannot Open Image File (" + gone + ")\r\n"));
  EXPECT_TRUE(ops().empty());  // refused before detection
}

TEST_F(SectionJob, EmptyRecordsDoNotEndTheTransfer) {
  const auto image = dir_.write(
      "gaps.bin",
      make_image(0x80000000, 0x1000,
                 {{0x80000000, pattern(100, 1)}, {0x80000100, {}}, {0x80000200, pattern(200, 2)}}));
  EXPECT_EQ(run_image(0, image), 1);
  EXPECT_EQ(calls_of("write").size(), 2u);
  EXPECT_EQ(flash_bytes(0x80000200, 200), pattern(200, 2));
}

TEST_F(SectionJob, ProgressTextOnceASecond) {
  recorder().write_delay_ms = 300;  // each piece takes 302 ms of virtual time
  const auto image =
      dir_.write("ten.bin", make_image(0x80000000, 10240, {{0x80000000, pattern(10240, 9)}}));
  EXPECT_EQ(run_image(0, image), 1);
  // Refreshed after pieces 4 (1208 ms) and 8 (2416 ms).
  EXPECT_THAT(texts(IDD_DOWNLOAD, IDC_TIME_TEXT),
              ElementsAre("Elapsed Time: 00:01, Remaining: 00:01 s, Speed: 4.00 KB/s",
                          "Elapsed Time: 00:02, Remaining: 00:00 s, Speed: 4.00 KB/s"));
  EXPECT_THAT(values(EventKind::progress_pos, IDD_DOWNLOAD, IDC_SECTION_BAR),
              ElementsAre(4096, 8192));
  EXPECT_THAT(values(EventKind::progress_pos, IDD_DOWNLOAD, IDC_TOTAL_BAR),
              ElementsAre(0, 4096, 8192));
}

TEST_F(JobTest, MissingOperationsAreRefusedBeforeAnythingStarts) {
  const auto image = dir_.write("nk.bin", make_image(0x80000000, 4, {{0x80000000, {1, 2, 3, 4}}}));
  EXPECT_EQ(run_image(usb_interface_index, image), 0);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_THAT(boxes()[0].text, HasSubstr("USB Interface"));
  EXPECT_THAT(boxes()[0].text, HasSubstr("detect"));
  EXPECT_EQ(dialogs_opened(IDD_DETECTION), 0);
  EXPECT_EQ(dialogs_opened(IDD_DOWNLOAD), 0);

  // A record that cannot verify, asked to verify an image.
  verify_after_write = 1;
  EXPECT_EQ(run_image(3, image), 0);
  EXPECT_THAT(boxes().back().text, HasSubstr("verify"));
  EXPECT_TRUE(ops().empty());

  EXPECT_EQ(start_download_job(ui::no_window, 7, image, 0, 0, 0, 0), 0);
  EXPECT_THAT(boxes().back().text, HasSubstr("(7)"));
}

TEST_F(JobTest, DetectionThatCannotStartEndsTheJob) {
  recorder().detect_mode = DetectMode::cancel;
  const auto image = dir_.write("nk.bin", make_image(0x80000000, 4, {{0x80000000, {1, 2, 3, 4}}}));
  EXPECT_EQ(run_image(0, image), 0);
  EXPECT_THAT(ops(), ElementsAre("detect"));
  EXPECT_EQ(dialogs_opened(IDD_DOWNLOAD), 0);
  EXPECT_EQ(stop_flag.load(), 1);
}

// The user presses Abort while detect is still looking: the stop flag goes up, and detect, given
// its bounded time, lets go.
TEST_F(JobTest, UserAbortsDetection) {
  recorder().detect_mode = DetectMode::wait_for_stop;
  const auto image = dir_.write("nk.bin", make_image(0x80000000, 4, {{0x80000000, {1, 2, 3, 4}}}));
  std::thread user([] {
    const ui::Window dlg = ui::headless::wait_for_dialog(IDD_DETECTION, 5000);
    EXPECT_EQ(stop_flag.load(), 0);
    ui::send_command(dlg, command(ui::IDCANCEL));
  });
  EXPECT_EQ(run_image(0, image), 0);
  user.join();
  EXPECT_EQ(stop_flag.load(), 1);
  EXPECT_EQ(recorder().detect_saw_stop.load(), 1);
  EXPECT_THAT(ops(), ElementsAre("detect"));
  EXPECT_EQ(dialogs_opened(IDD_DOWNLOAD), 0);
  EXPECT_THAT(values(EventKind::dialog_closed, IDD_DETECTION, -1), ElementsAre(0));
}

TEST_F(JobTest, JobParametersAndTargetDescriptionPerJob) {
  target_description_set("left over from before");
  flash_failure_notes_append("Cannot erase Flash on CS0");
  const auto image = dir_.write("nk.bin", make_image(0x80000000, 4, {{0x80000000, {1, 2, 3, 4}}}));
  EXPECT_EQ(start_download_job(ui::no_window, 0, image, 0, 0x80000000, 4, 1), 1);
  EXPECT_EQ(current_job().image_path, image);
  EXPECT_EQ(current_job().is_bootloader, 1);
  EXPECT_EQ(selected_interface.load(), 0);
  EXPECT_EQ(detect_interface.load(), 0);
  EXPECT_EQ(target_description(), "PXA270 C5 Test Flash 32MB");
  EXPECT_EQ(flash_failure_notes(), "");
}

}  // namespace
}  // namespace dz::testing
