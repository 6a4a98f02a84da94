#pragma once
// Checks pieces of an image, as a reader or a download hands them on, against its records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tests/image/image_builder.h"

namespace dz::testing {

// A piece of an image as a reader or a download hands it on.
struct Piece {
  std::uint32_t address;
  std::vector<std::uint8_t> bytes;
};

// The pieces, in order, are exactly the records' bytes at their addresses; with `max_piece`, each
// piece is as long as it can be: `max_piece` bytes or what is left of its record.
inline void expect_pieces_match(const std::vector<Piece>& pieces,
                                const std::vector<ImageRecord>& records,
                                std::size_t max_piece = 0) {
  std::size_t record = 0;
  std::size_t offset = 0;
  for (const auto& p : pieces) {
    ASSERT_LT(record, records.size());
    const auto& r = records[record];
    ASSERT_EQ(p.address, r.address + offset);
    ASSERT_LE(offset + p.bytes.size(), r.data.size());
    ASSERT_TRUE(
        std::equal(p.bytes.begin(), p.bytes.end(), r.data.begin() + static_cast<long>(offset)));
    if (max_piece) {
      EXPECT_EQ(p.bytes.size(), std::min(max_piece, r.data.size() - offset));
    }
    offset += p.bytes.size();
    if (offset == r.data.size()) {
      ++record;
      offset = 0;
    }
  }
  EXPECT_EQ(record, records.size());
}

}  // namespace dz::testing
