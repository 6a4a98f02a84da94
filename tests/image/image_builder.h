#pragma once
// Builds Windows CE binary images and raw files in a temporary folder for the tests.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace dz::testing {

struct ImageRecord {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> data;
  std::uint32_t checksum = 0x1234;  // carried, never checked
};

inline void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The bytes of an image: header, records with their data, and a terminator whose length field
// carries `terminator_length` (real images put the entry point there).
inline std::vector<std::uint8_t> make_image(std::uint32_t start, std::uint32_t length,
                                            const std::vector<ImageRecord>& records,
                                            std::uint32_t terminator_length = 0x80001000,
                                            bool with_terminator = true) {
  std::vector<std::uint8_t> out = {'B', '0', '0', '0', 'F', 'F', '\n'};
  put32(out, start);
  put32(out, length);
  for (const auto& r : records) {
    put32(out, r.address);
    put32(out, static_cast<std::uint32_t>(r.data.size()));
    put32(out, r.checksum);
    out.insert(out.end(), r.data.begin(), r.data.end());
  }
  if (with_terminator) {
    put32(out, 0);
    put32(out, terminator_length);
    put32(out, 0);
  }
  return out;
}

inline std::vector<std::uint8_t> random_bytes(std::mt19937& rng, std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

// Random, ascending, non-overlapping records inside [start, start + length).
inline std::vector<ImageRecord> random_records(std::mt19937& rng, std::uint32_t start,
                                               std::uint32_t length, int count,
                                               std::uint32_t max_record) {
  std::vector<ImageRecord> records;
  std::uint32_t at = start;
  const std::uint32_t end = start + length;
  for (int i = 0; i < count && at < end; ++i) {
    at += static_cast<std::uint32_t>(rng() % 64) * 4;
    if (at >= end) break;
    const std::uint32_t room = end - at;
    const std::uint32_t n = 1 + static_cast<std::uint32_t>(rng() % std::min(room, max_record));
    records.push_back({at, random_bytes(rng, n), static_cast<std::uint32_t>(rng())});
    at += n;
  }
  return records;
}

using test::TempDir;

}  // namespace dz::testing
