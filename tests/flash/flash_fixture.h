#pragma once
// Runs download jobs through the real JTAG record against a simulated module (processor, flash,
// parallel cable) on the headless host and the virtual clock, and keeps what the user saw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bscan/cpu.h"
#include "download/interface.h"
#include "download/job.h"
#include "download/options.h"
#include "flash/jtag_download.h"
#include "flash/nand_flash.h"
#include "flash/strata_flash.h"
#include "image/bin_image.h"
#include "jtag/cable.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/ui_headless.h"
#include "sim/jtag_module.h"
#include "tests/image/image_builder.h"

namespace dz::testing {

struct Box {
  std::string text;
  std::string caption;
};

class FlashJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::headless::reset();
    clock::use_virtual_clock();
    reset_options_state();
    abort_flag = 0;
    stop_flag = 0;
    test_mode_flag = 0;
    jtag_interface = 0;
    reset_strata_state();
    reset_nand_state();
    target_description_clear();
    ui::headless::set_answerer(
        [this](ui::Window, const std::string& text, const std::string& caption, unsigned flags) {
          std::lock_guard guard(lock_);
          boxes_.push_back({text, caption});
          if (flags & ui::MB_YESNO) return answer_yes_ ? ui::IDYES : ui::IDNO;
          return ui::IDOK;
        });
    debug::set_sink([this](std::string_view line) {
      std::lock_guard guard(lock_);
      debug_lines_.emplace_back(line);
    });
  }

  void TearDown() override {
    module_.reset();
    debug::set_sink(nullptr);
    ui::headless::reset();
    clock::use_real_clock();
  }

  sim::JtagModule& use_module(const std::string& name) {
    std::string error;
    module_ = sim::make_jtag_module(name, error);
    EXPECT_TRUE(module_) << error;
    module_->install();
    return *module_;
  }

  int run_image(const std::string& path, int is_bootloader = 1) {
    const ImageInfo info = classify(path);
    return start_download_job(ui::no_window, jtag_interface_index, path, 0, info.header.image_start,
                              info.header.image_length, is_bootloader);
  }
  int run_raw(const std::string& path, std::uint32_t start) {
    const ImageInfo info = classify(path);
    return start_download_job(ui::no_window, jtag_interface_index, path, 1, start,
                              static_cast<std::uint32_t>(info.file_size), 0);
  }

  std::vector<Box> boxes() {
    std::lock_guard guard(lock_);
    return boxes_;
  }
  std::vector<std::string> box_texts() {
    std::vector<std::string> out;
    for (const auto& b : boxes()) out.push_back(b.text);
    return out;
  }
  std::vector<std::string> debug_lines() {
    std::lock_guard guard(lock_);
    return debug_lines_;
  }

  // The image's bytes as they should lie in flash from its start (0xFF between records).
  static std::vector<std::uint8_t> expected_flash(std::uint32_t start, std::uint32_t length,
                                                  const std::vector<ImageRecord>& records) {
    std::vector<std::uint8_t> out(length, 0xFF);
    for (const auto& r : records)
      std::copy(r.data.begin(), r.data.end(), out.begin() + (r.address - start));
    return out;
  }

  // NAND page contents (data then spare) of chip 0.
  std::vector<std::uint8_t> nand_page(std::uint32_t page, std::size_t chip = 0) {
    auto& c = module_->nand().chip(chip);
    std::vector<std::uint8_t> bytes(c.page_bytes());
    c.read_page(page, bytes.data());
    return bytes;
  }

  TempDir dir_;
  std::unique_ptr<sim::JtagModule> module_;
  bool answer_yes_ = false;

 private:
  std::mutex lock_;
  std::vector<Box> boxes_;
  std::vector<std::string> debug_lines_;
};

}  // namespace dz::testing
