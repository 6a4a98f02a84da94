#pragma once
// Runs download jobs against the recording interfaces on the shared fixture (headless host,
// virtual clock, boxes and events recorded).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "download/interface.h"
#include "download/job.h"
#include "download/options.h"
#include "image/bin_image.h"
#include "platform/clock.h"
#include "platform/help.h"
#include "platform/ui_headless.h"
#include "resources/resource.h"
#include "tests/download/recording_interfaces.h"
#include "tests/image/image_builder.h"
#include "tests/support/host_fixture.h"

namespace dz::testing {

using test::Box;

class JobTest : public test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    reset_recorder();
  }

  // A Windows CE image job: start and length from the file's header, as the main window does.
  int run_image(int interface_index, const std::string& path, int is_bootloader = 0) {
    const ImageInfo info = classify(path);
    return start_download_job(ui::no_window, interface_index, path, 0, info.header.image_start,
                              info.header.image_length, is_bootloader);
  }
  int run_raw(int interface_index, const std::string& path, std::uint32_t start) {
    const ImageInfo info = classify(path);
    return start_download_job(ui::no_window, interface_index, path, 1, start,
                              static_cast<std::uint32_t>(info.file_size), 0);
  }

  std::vector<std::uint8_t> last_map() {
    const auto painted = events_of(EventKind::map_painted, IDD_DOWNLOAD, IDC_FLASH_MAP);
    return painted.empty() ? std::vector<std::uint8_t>{} : painted.back().map;
  }

  // The bytes that write stored, from `address` on.
  std::vector<std::uint8_t> flash_bytes(std::uint32_t address, std::size_t count) {
    auto& r = recorder();
    std::lock_guard guard(r.lock);
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < count; ++i) {
      const auto it = r.flash.find(address + static_cast<std::uint32_t>(i));
      out.push_back(it == r.flash.end() ? 0x00 : it->second);
    }
    return out;
  }
  std::size_t flash_size() {
    auto& r = recorder();
    std::lock_guard guard(r.lock);
    return r.flash.size();
  }
};

}  // namespace dz::testing
