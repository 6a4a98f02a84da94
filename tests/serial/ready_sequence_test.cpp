// The ready-sequence matcher: position kept across reads, no backtracking.
#include <gtest/gtest.h>

#include <vector>

#include "serial/ready_sequence.h"

namespace dz {
namespace {

std::vector<std::uint8_t> seq() {
  return {serial_ready_sequence.begin(), serial_ready_sequence.end()};
}

TEST(ReadyMatcher, FindsTheSequenceAfterTextAndReportsItsLastByte) {
  std::vector<std::uint8_t> data{'b', 'o', 'o', 't', '\r', '\n'};
  const auto s = seq();
  data.insert(data.end(), s.begin(), s.end());
  data.push_back('x');
  ReadyMatcher m;
  EXPECT_EQ(m.scan(data), 6u + 16u);
}

TEST(ReadyMatcher, SequenceSplitOverReadsAtEveryPoint) {
  const auto s = seq();
  for (std::size_t cut = 1; cut < s.size(); ++cut) {
    ReadyMatcher m;
    const std::vector<std::uint8_t> first(s.begin(), s.begin() + cut);
    const std::vector<std::uint8_t> second(s.begin() + cut, s.end());
    EXPECT_EQ(m.scan(first), first.size()) << cut;
    EXPECT_EQ(m.position(), cut);
    EXPECT_EQ(m.scan(second), second.size() - 1) << cut;
  }
}

TEST(ReadyMatcher, OverlappingStartIsNotResumedButALaterCleanSequenceIs) {
  std::vector<std::uint8_t> data{0xAA, 0x55, 0x55};
  const auto s = seq();
  data.insert(data.end(), s.begin(), s.end());
  ReadyMatcher m;
  EXPECT_EQ(m.scan(data), data.size());  // not recognised
  const std::size_t end = m.scan(s);
  EXPECT_EQ(end, s.size() - 1);
}

TEST(ReadyMatcher, BreakingByteRestartsAtOneOnlyForTheFirstByte) {
  ReadyMatcher m;
  const std::vector<std::uint8_t> a{0xAA, 0x55, 0xAA};  // third byte breaks, but is 0xAA
  m.scan(a);
  EXPECT_EQ(m.position(), 1u);
  const std::vector<std::uint8_t> b{0xAA, 0x55, 0x13};
  m.reset();
  m.scan(b);
  EXPECT_EQ(m.position(), 0u);
}

TEST(ReadyMatcher, DoubledFirstByteStillMatches) {
  std::vector<std::uint8_t> data{0xAA};
  const auto s = seq();
  data.insert(data.end(), s.begin(), s.end());
  ReadyMatcher m;
  EXPECT_EQ(m.scan(data), data.size() - 1);
}

TEST(ReadyMatcher, NeverMatchesRandomNoiseWithoutTheSequence) {
  std::vector<std::uint8_t> noise(100000);
  std::uint32_t x = 12345;
  for (auto& b : noise) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  ReadyMatcher m;
  EXPECT_EQ(m.scan(noise), noise.size());
}

}  // namespace
}  // namespace dz
