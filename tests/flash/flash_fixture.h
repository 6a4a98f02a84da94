#pragma once
// Runs download jobs through the real JTAG record against a simulated module (processor, flash,
// parallel cable) on the shared fixture (headless host, virtual clock, boxes recorded).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
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
#include "platform/port_io.h"
#include "platform/ui_headless.h"
#include "sim/jtag_module.h"
#include "tests/image/image_builder.h"
#include "tests/support/host_fixture.h"

namespace dz::testing {

using test::Box;

class FlashJobTest : public test::HostTest {
 protected:
  void TearDown() override {
    port_io::release();  // while the module behind the port still exists
    module_.reset();
    HostTest::TearDown();
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

  std::unique_ptr<sim::JtagModule> module_;
};

}  // namespace dz::testing
