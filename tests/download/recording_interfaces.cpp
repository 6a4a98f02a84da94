// The test's table of download interfaces: 0 writes section-wise with verify (like JTAG), 1
// streams whole files and has a monitor (like serial), 2 has no operations (USB), 3 writes
// section-wise but has no verify.
#include "tests/download/recording_interfaces.h"

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/ui.h"
#include "resources/resource.h"

namespace dz::testing {

Recorder& recorder() {
  static Recorder r;
  return r;
}

void reset_recorder() {
  auto& r = recorder();
  std::lock_guard guard(r.lock);
  r.calls.clear();
  r.flash.clear();
  r.detect_mode = DetectMode::answer;
  r.fail_open = r.fail_erase = false;
  r.fail_write_at = r.fail_verify_at = r.abort_at_write = -1;
  r.block_span = 0;
  r.write_delay_ms = 0;
  r.during_open = nullptr;
  r.download_dialog = ui::no_window;
  r.detect_saw_stop = 0;
  r.monitor_done = 0;
}

std::vector<Call> calls() {
  auto& r = recorder();
  std::lock_guard guard(r.lock);
  return r.calls;
}

std::vector<std::string> ops() {
  std::vector<std::string> out;
  for (const auto& c : calls()) out.push_back(c.op);
  return out;
}

std::vector<Call> calls_of(const std::string& op) {
  std::vector<Call> out;
  for (const auto& c : calls()) {
    if (c.op == op) out.push_back(c);
  }
  return out;
}

namespace {

int record(int index, std::string op, std::uint32_t address = 0, std::uint32_t length = 0,
           const std::uint8_t* bytes = nullptr) {
  auto& r = recorder();
  std::lock_guard guard(r.lock);
  int nth = 0;
  for (const auto& c : r.calls) nth += c.op == op ? 1 : 0;
  Call call{index, std::move(op), address, length, {}};
  if (bytes) call.bytes.assign(bytes, bytes + length);
  r.calls.push_back(std::move(call));
  return nth;
}

template <int I>
std::uint32_t detect(ui::Window dlg) {
  record(I, "detect");
  auto& r = recorder();
  target_description_append("PXA270 C5 ");
  ui::set_text(dlg, IDC_DETECT_STATUS, "Test Adapter");
  switch (r.detect_mode) {
    case DetectMode::answer:
      ui::send_command(dlg, command(ui::IDOK));
      return 1;
    case DetectMode::cancel:
      ui::send_command(dlg, command(ui::IDCANCEL));
      return 0;
    case DetectMode::wait_for_stop:
      for (int i = 0; i < 5000 && stop_flag == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      r.detect_saw_stop = stop_flag.load();
      return 0;
  }
  return 0;
}

template <int I>
int open(ui::Window dlg) {
  record(I, "open");
  auto& r = recorder();
  {
    std::lock_guard guard(r.lock);
    r.download_dialog = dlg;
  }
  target_description_append("Test Flash 32MB");
  if (r.during_open) r.during_open();
  return r.fail_open ? 0 : 1;
}

template <int I>
int erase(std::uint32_t start, std::uint32_t length) {
  record(I, "erase", start, length);
  return recorder().fail_erase ? 0 : 1;
}

template <int I>
int write(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length) {
  const int nth = record(I, "write", address, length, buffer);
  auto& r = recorder();
  ui::Window dlg;
  {
    std::lock_guard guard(r.lock);
    for (std::uint32_t i = 0; i < length; ++i) r.flash[address + i] = buffer[i];
    dlg = r.download_dialog;
  }
  if (r.write_delay_ms) clock::sleep_ms(r.write_delay_ms);
  if (nth == r.abort_at_write) ui::send_command(dlg, command(ui::IDCANCEL));
  return nth == r.fail_write_at ? 0 : 1;
}

template <int I>
int verify(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length) {
  const int nth = record(I, "verify", address, length, buffer);
  auto& r = recorder();
  std::lock_guard guard(r.lock);
  for (std::uint32_t i = 0; i < length; ++i) {
    const auto it = r.flash.find(address + i);
    if (it == r.flash.end() || it->second != buffer[i]) return 0;
  }
  return nth == r.fail_verify_at ? 0 : 1;
}

template <int I>
int close() {
  record(I, "close");
  return 1;
}

std::uint32_t monitor(ui::Window dlg) {
  ui::append_text(dlg, IDC_MONITOR_OUTPUT, "Module console\r\n");
  recorder().monitor_done = 1;
  return 0;
}

std::uint32_t block_span() {
  return recorder().block_span;
}

}  // namespace
}  // namespace dz::testing

namespace dz {

using namespace dz::testing;

const DownloadInterface download_interfaces[interface_count] = {
    {"JTag Interface", detect<0>, open<0>, erase<0>, write<0>, verify<0>, close<0>, nullptr,
     nullptr, nullptr, nullptr, 0, block_span},
    {"Serial Interface", detect<1>, open<1>, erase<1>, write<1>, nullptr, close<1>, nullptr,
     nullptr, nullptr, monitor, 1, nullptr},
    {"USB Interface", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr, 1, nullptr},
    {"Ethernet Interface", detect<3>, open<3>, erase<3>, write<3>, nullptr, close<3>, nullptr,
     nullptr, nullptr, nullptr, 0, nullptr},
};

}  // namespace dz
