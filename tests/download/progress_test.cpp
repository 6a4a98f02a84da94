// The elapsed/remaining/speed text and its once-a-second refresh.
#include <gtest/gtest.h>

#include "download/progress.h"
#include "platform/clock.h"

namespace dz {
namespace {

TEST(ProgressText, ArithmeticNeverOverflowsNorDividesByZero) {
  // The hundredths are (bytes per second mod 1024) / 10: 512 B/s reads 0.51.
  EXPECT_EQ(progress_text(2000, 2048, 1024),
            "Elapsed Time: 00:02, Remaining: 00:02 s, Speed: 0.51 KB/s");
  // 75 s for 3 MiB of 12 MiB: 225 s left, 41943 B/s = 40 KB/s and 983/10.
  EXPECT_EQ(progress_text(75999, 12u << 20, 3u << 20),
            "Elapsed Time: 01:15, Remaining: 03:45 s, Speed: 40.98 KB/s");
  // Products beyond 32 bits: 4000 s and a 3 GiB total.
  EXPECT_EQ(progress_text(4000000, 3ull << 30, 1ull << 30),
            "Elapsed Time: 66:40, Remaining: 133:20 s, Speed: 262.14 KB/s");
  // Nothing done, or under a second gone.
  EXPECT_EQ(progress_text(5000, 1000, 0),
            "Elapsed Time: 00:05, Remaining: 00:00 s, Speed: 0.00 KB/s");
  EXPECT_EQ(progress_text(999, 1000, 500),
            "Elapsed Time: 00:00, Remaining: 00:00 s, Speed: 0.00 KB/s");
  EXPECT_EQ(progress_text(0, 0, 0), "Elapsed Time: 00:00, Remaining: 00:00 s, Speed: 0.00 KB/s");
  // More done than the total (never negative).
  EXPECT_EQ(progress_text(3000, 10, 20),
            "Elapsed Time: 00:03, Remaining: 00:00 s, Speed: 0.00 KB/s");
}

TEST(ProgressClock, FirstRefreshAfterMoreThanASecond) {
  clock::use_virtual_clock();
  clock::sleep_ms(12345);  // the start need not be at 0
  ProgressClock progress;
  std::uint32_t elapsed = 0;
  clock::sleep_ms(1000);
  EXPECT_FALSE(progress.due(elapsed));
  EXPECT_EQ(elapsed, 1000u);
  clock::sleep_ms(1);
  EXPECT_TRUE(progress.due(elapsed));
  EXPECT_EQ(elapsed, 1001u);
  clock::sleep_ms(1000);
  EXPECT_FALSE(progress.due(elapsed));
  clock::sleep_ms(500);
  EXPECT_TRUE(progress.due(elapsed));
  EXPECT_EQ(elapsed, 2501u);
  clock::use_real_clock();
}

}  // namespace
}  // namespace dz
