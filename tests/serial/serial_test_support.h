#pragma once
// Shared pieces of the serial suites: a clean process state per test, a recorder of what the
// headless host showed, temporary files.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui_headless.h"

namespace dz::test {

// Records every event of the headless host.
class EventLog {
 public:
  EventLog();
  ~EventLog();
  std::vector<ui::headless::Event> events() const;
  // Texts appended to a control of dialogs of `template_id`, joined in order.
  std::string appended(int template_id, int control) const;
  // Message boxes shown, as "caption: text".
  std::vector<std::string> boxes() const;
  bool opened(int template_id) const;

 private:
  int token_ = 0;
  mutable std::mutex mutex_;
  std::vector<ui::headless::Event> events_;
};

// A folder of its own for one test, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::filesystem::path path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<std::uint8_t> random_bytes(std::size_t size, std::uint32_t seed);
void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
// A Windows CE image whose records hold `record_sizes` bytes each, from 0x80000000 on.
std::vector<std::uint8_t> wince_image(const std::vector<std::size_t>& record_sizes,
                                      std::uint32_t seed);

// Pseudo-terminals stand in for the far end of a line. Where there are none (the Windows build),
// the tests that need one are skipped.
bool pseudo_terminals_available();
#define DZ_REQUIRE_PTY()                         \
  if (!::dz::test::pseudo_terminals_available()) \
  GTEST_SKIP() << "no pseudo-terminals on this platform"

// Resets the serial interface, the settings store (in memory), the headless host and the flags.
class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace dz::test
