// Shared pieces of the serial suites.
#include "tests/serial/serial_test_support.h"

#include <atomic>
#include <fstream>
#include <random>

#include "download/interface.h"
#include "download/options.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/settings.h"
#include "serial/serial_download.h"

namespace dz::test {

EventLog::EventLog() {
  token_ = ui::headless::subscribe([this](const ui::headless::Event& e) {
    std::lock_guard lock(mutex_);
    events_.push_back(e);
  });
}

EventLog::~EventLog() {
  ui::headless::unsubscribe(token_);
}

std::vector<ui::headless::Event> EventLog::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::string EventLog::appended(int template_id, int control) const {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const auto& e : events_) {
    if (e.kind == ui::headless::EventKind::text_appended && e.control == control &&
        e.template_id == template_id) {
      text += e.text;
    }
  }
  return text;
}

std::vector<std::string> EventLog::boxes() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& e : events_) {
    if (e.kind == ui::headless::EventKind::message_box) out.push_back(e.caption + ": " + e.text);
  }
  return out;
}

bool EventLog::opened(int template_id) const {
  std::lock_guard lock(mutex_);
  for (const auto& e : events_) {
    if (e.kind == ui::headless::EventKind::dialog_opened && e.template_id == template_id) {
      return true;
    }
  }
  return false;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("dz-serial-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::uint8_t> random_bytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
  return bytes;
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

namespace {
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}
}  // namespace

std::vector<std::uint8_t> wince_image(const std::vector<std::size_t>& record_sizes,
                                      std::uint32_t seed) {
  std::vector<std::uint8_t> image{'B', '0', '0', '0', 'F', 'F', '\n'};
  std::size_t total = 0;
  for (auto size : record_sizes) total += size;
  put32(image, 0x80000000);
  put32(image, static_cast<std::uint32_t>(total));
  std::uint32_t address = 0x80000000;
  std::uint32_t n = 0;
  for (auto size : record_sizes) {
    const auto data = random_bytes(size, seed + n++);
    std::uint32_t sum = 0;
    for (auto b : data) sum += b;
    put32(image, address);
    put32(image, static_cast<std::uint32_t>(size));
    put32(image, sum);
    image.insert(image.end(), data.begin(), data.end());
    address += static_cast<std::uint32_t>(size);
  }
  put32(image, 0);
  put32(image, 0x80001000);  // entry point
  put32(image, 0);
  return image;
}

bool pseudo_terminals_available() {
  serial::PseudoTerminal pty;
  std::string error;
  return serial::open_pseudo_terminal(pty, error);
}

void SerialTest::SetUp() {
  clock::use_virtual_clock();
  settings::use_memory_store();
  ui::headless::reset();
  reset_serial_state();
  reset_options_state();
  stop_flag = 0;
  abort_flag = 0;
}

void SerialTest::TearDown() {
  ui::headless::reset();
  reset_serial_state();
  clock::use_real_clock();
}

}  // namespace dz::test
