#include "flash/nand_ecc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "tests/flash/ecc_reference.h"

namespace dz {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::array<std::uint8_t, 6> chunk_code(const std::vector<std::uint8_t>& chunk) {
  std::array<std::uint8_t, 6> code{};
  nand_chunk_ecc(chunk.data(), code.data());
  return code;
}

TEST(Ecc22, SingleBitsGiveTheirAddressAndComplementAndRandomBlocksMatchTheDefinition) {
  std::vector<std::uint8_t> block(256, 0);
  block[0] = 0x01;
  EXPECT_EQ(ecc22(block.data()), 0x0007FFu);  // bytes FF 07 00
  block[0] = 0;
  block[255] = 0x80;
  EXPECT_EQ(ecc22(block.data()), 0x3FF800u);  // bytes 00 F8 3F
  // Every single bit: the upper half is its address, the lower half the complement.
  for (std::uint32_t a = 0; a < 2048; a += 37) {
    std::vector<std::uint8_t> one(256, 0);
    one[a / 8] = static_cast<std::uint8_t>(1u << (a % 8));
    EXPECT_EQ(ecc22(one.data()), (a << 11) | (a ^ 0x7FF)) << a;
  }
  // Random blocks against the bitwise definition.
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    // Sparse and dense blocks both.
    for (auto& b : block) b = static_cast<std::uint8_t>(round % 2 ? rng() : (rng() % 13 == 0));
    EXPECT_EQ(ecc22(block.data()), testing::ecc22_reference(block.data())) << round;
    EXPECT_EQ(ecc22(block.data()) >> 22, 0u);
  }
}

TEST(NandChunkEcc, EdgeCasesOfSingleBitsAndUniformChunks) {
  EXPECT_THAT(chunk_code(std::vector<std::uint8_t>(512, 0x00)), ElementsAre(0, 0, 0, 0, 0, 0));
  EXPECT_THAT(chunk_code(std::vector<std::uint8_t>(512, 0xFF)), ElementsAre(0, 0, 0, 0, 0, 0));
  std::vector<std::uint8_t> chunk(512, 0);
  chunk[0] = 0x01;
  EXPECT_THAT(chunk_code(chunk), ElementsAre(0x55, 0x55, 0x15, 0x00, 0x00, 0x00));
  chunk[0] = 0x02;
  EXPECT_THAT(chunk_code(chunk), ElementsAre(0xAA, 0xAA, 0x2A, 0x00, 0x00, 0x00));
  chunk[0] = 0;
  chunk[511] = 0x80;
  EXPECT_THAT(chunk_code(chunk), ElementsAre(0x00, 0x00, 0x80, 0xAA, 0xAA, 0x0A));
}

TEST(NandChunkEcc, MatchesTheReferenceIsLinearAndLocatesAFlippedBit) {
  std::mt19937 rng(11);
  for (int round = 0; round < 100; ++round) {
    std::vector<std::uint8_t> a(512), b(512), x(512);
    for (auto& v : a) v = static_cast<std::uint8_t>(rng());
    for (auto& v : b) v = static_cast<std::uint8_t>(rng() & rng());
    for (int i = 0; i < 512; ++i) x[i] = a[i] ^ b[i];
    std::array<std::uint8_t, 6> expected{};
    testing::chunk_ecc_reference(a.data(), expected.data());
    EXPECT_EQ(chunk_code(a), expected) << round;
    const auto ca = chunk_code(a), cb = chunk_code(b), cx = chunk_code(x);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(cx[i], ca[i] ^ cb[i]);
  }

  // XOR of the codes before and after a flip names the flipped bit: the stored and recomputed
  // codes of a reader differ exactly there.
  std::vector<std::uint8_t> chunk(512);
  for (auto& v : chunk) v = static_cast<std::uint8_t>(rng());
  const auto before = chunk_code(chunk);
  for (std::uint32_t bit : {0u, 1u, 777u, 4095u}) {
    auto flipped = chunk;
    flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    const auto after = chunk_code(flipped);
    std::vector<std::uint8_t> single(512, 0);
    single[bit / 8] = static_cast<std::uint8_t>(1u << (bit % 8));
    const auto expected = chunk_code(single);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(before[i] ^ after[i], expected[i]) << bit;
  }
}

TEST(NandPageEcc, IsTheFourChunkCodesInOrder) {
  std::mt19937 rng(5);
  std::vector<std::uint8_t> page(2048);
  for (auto& v : page) v = static_cast<std::uint8_t>(rng());
  std::array<std::uint8_t, 24> code{}, expected{};
  nand_page_ecc(page.data(), code.data());
  testing::page_ecc_reference(page.data(), expected.data());
  EXPECT_THAT(code, ElementsAreArray(expected));
  std::array<std::uint8_t, 6> untouched{1, 2, 3, 4, 5, 6};
  nand_no_ecc(page.data(), untouched.data());
  EXPECT_THAT(untouched, ElementsAre(1, 2, 3, 4, 5, 6));
}

}  // namespace
}  // namespace dz
