// The flash map's geometry, marking and clipping.
#include <gtest/gtest.h>

#include "download/flash_map.h"

namespace dz {
namespace {

int marked(std::uint8_t bit) {
  int n = 0;
  for (auto cell : flash_map) n += (cell & bit) ? 1 : 0;
  return n;
}

TEST(FlashMap, AlignedImageOf256KiB) {
  flash_map_build(0x80000000, 0x40000);
  EXPECT_EQ(map_base, 0x80000000u);
  EXPECT_EQ(map_span, 0x40000u);
  EXPECT_EQ(map_cell_size, 0x200u);
  flash_map_mark(0x80000000, 0x200, map_in_image);
  EXPECT_EQ(flash_map[0], map_in_image);
  EXPECT_EQ(marked(map_in_image), 1);
  // A piece ending exactly on a boundary touches only its own cells.
  flash_map_mark(0x80000200, 0x400, map_written);
  EXPECT_EQ(flash_map[1], map_written);
  EXPECT_EQ(flash_map[2], map_written);
  EXPECT_EQ(flash_map[3], 0);
  flash_map_mark(0x8003FFFF, 1, map_verified);
  EXPECT_EQ(flash_map[511], map_verified);
}

TEST(FlashMap, ImageAcrossA64KiBBoundary) {
  flash_map_build(0x8000FFF0, 0x20);
  EXPECT_EQ(map_base, 0x80000000u);
  EXPECT_EQ(map_span, 0x20000u);
  EXPECT_EQ(map_cell_size, 0x100u);
  flash_map_mark(0x8000FFF0, 0x20, map_in_image);
  EXPECT_EQ(flash_map[255], map_in_image);
  EXPECT_EQ(flash_map[256], map_in_image);
  EXPECT_EQ(marked(map_in_image), 2);
}

TEST(FlashMap, BuildClearsAndRangesOutsideAreClipped) {
  flash_map_build(0x80000000, 0x10000);
  flash_map_mark(0x80000000, 0x10000, map_written);
  EXPECT_EQ(marked(map_written), 512);
  flash_map_build(0x80000000, 0x10000);
  EXPECT_EQ(marked(map_written), 0);
  flash_map_mark(0x7FFFFF00, 0x100, map_in_image);   // before the map
  flash_map_mark(0x80010000, 0x1000, map_in_image);  // after it
  EXPECT_EQ(marked(map_in_image), 0);
  flash_map_mark(0x8000FF80, 0x1000, map_in_image);  // runs off the end
  EXPECT_EQ(marked(map_in_image), 1);
  EXPECT_EQ(flash_map[511], map_in_image);
  flash_map_mark(0x80000000, 0, map_verified);  // nothing
  EXPECT_EQ(marked(map_verified), 0);
  flash_map_mark(0x80000000, 0xFFFFFFFF, map_verified);
  EXPECT_EQ(marked(map_verified), 512);
}

TEST(FlashMap, NothingCoveredNeverDivides) {
  flash_map_build(0x80000000, 0);
  EXPECT_EQ(map_span, 0u);
  EXPECT_EQ(map_cell_size, 0u);
  flash_map_mark(0x80000000, 0x100, map_in_image);
  EXPECT_EQ(marked(map_in_image), 0);
}

TEST(FlashMap, TopOfTheAddressSpace) {
  flash_map_build(0xFFFF0000, 0x10000);
  EXPECT_EQ(map_span, 0x10000u);
  flash_map_mark(0xFFFFFF80, 0x80, map_in_image);
  EXPECT_EQ(flash_map[511], map_in_image);
  flash_map_build(0xFFFF8000, 0xFFFFFFFF);  // 64-bit span: no wrap to zero
  EXPECT_EQ(map_span, 0x100000000ull + 0x10000);
  EXPECT_GT(map_cell_size, 0u);
}

}  // namespace
}  // namespace dz
