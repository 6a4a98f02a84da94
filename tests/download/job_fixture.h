#pragma once
// Runs download jobs on the headless host with the virtual clock and the recording interfaces,
// and keeps what the user saw: events of the dialogs and the message boxes.
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

namespace dz::testing {

struct Box {
  std::string text;
  std::string caption;
  unsigned flags = 0;
};

class JobTest : public ::testing::Test {
 protected:
  using Event = ui::headless::Event;
  using EventKind = ui::headless::EventKind;

  void SetUp() override {
    ui::headless::reset();
    clock::use_virtual_clock();
    reset_options_state();
    reset_recorder();
    abort_flag = 0;
    stop_flag = 0;
    {
      std::lock_guard guard(lock_);
      events_.clear();
      boxes_.clear();
    }
    ui::headless::subscribe([this](const Event& e) {
      std::lock_guard guard(lock_);
      events_.push_back(e);
    });
    ui::headless::set_answerer(
        [this](ui::Window, const std::string& text, const std::string& caption, unsigned flags) {
          std::lock_guard guard(lock_);
          boxes_.push_back({text, caption, flags});
          return ui::IDOK;
        });
  }

  void TearDown() override {
    ui::headless::reset();
    help::set_handler(nullptr);
    clock::use_real_clock();
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

  std::vector<Event> events() {
    std::lock_guard guard(lock_);
    return events_;
  }
  std::vector<Event> events_of(EventKind kind, int template_id, int control = -1) {
    std::vector<Event> out;
    for (const auto& e : events()) {
      if (e.kind == kind && e.template_id == template_id && (control < 0 || e.control == control))
        out.push_back(e);
    }
    return out;
  }
  std::vector<std::string> texts(int template_id, int control) {
    std::vector<std::string> out;
    for (const auto& e : events_of(EventKind::text_changed, template_id, control))
      out.push_back(e.text);
    return out;
  }
  std::vector<std::uint64_t> values(EventKind kind, int template_id, int control) {
    std::vector<std::uint64_t> out;
    for (const auto& e : events_of(kind, template_id, control)) out.push_back(e.value);
    return out;
  }
  bool was_shown(int template_id, int control) {
    for (const auto& e : events_of(EventKind::visibility_changed, template_id, control)) {
      if (e.value == 1) return true;
    }
    return false;
  }
  int dialogs_opened(int template_id) {
    return static_cast<int>(events_of(EventKind::dialog_opened, template_id).size());
  }
  std::vector<std::uint8_t> last_map() {
    const auto painted = events_of(EventKind::map_painted, IDD_DOWNLOAD, IDC_FLASH_MAP);
    return painted.empty() ? std::vector<std::uint8_t>{} : painted.back().map;
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

  TempDir dir_;

 private:
  std::mutex lock_;
  std::vector<Event> events_;
  std::vector<Box> boxes_;
};

}  // namespace dz::testing
