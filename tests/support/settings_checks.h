#pragma once
// Helpers of the settings suites: whole text files, what a call prints to stderr, and values
// read back from a key.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/settings.h"

namespace dz::test {

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// What `f` prints to stderr.
template <typename F>
std::string stderr_of(F&& f) {
  ::testing::internal::CaptureStderr();
  f();
  return ::testing::internal::GetCapturedStderr();
}

inline long line_count(const std::string& text) {
  return std::count(text.begin(), text.end(), '\n');
}

// The number `name` of `key`; nothing when it cannot be read.
inline std::optional<std::uint32_t> dword_of(settings::Key& key, std::string_view name) {
  std::uint32_t n = 0;
  if (!key.read_dword(name, n)) return std::nullopt;
  return n;
}

// The text `name` of `key` read into `capacity` bytes; nothing when it cannot be read.
inline std::optional<std::string> text_of(settings::Key& key, std::string_view name,
                                          std::size_t capacity = 256) {
  std::string s;
  if (!key.read_string(name, s, capacity)) return std::nullopt;
  return s;
}

}  // namespace dz::test
