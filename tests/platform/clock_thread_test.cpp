// The virtual and real clocks, and worker threads with bounded waits.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/thread.h"

namespace dz {
namespace {

struct VirtualClock : ::testing::Test {
  void SetUp() override { clock::use_virtual_clock(); }
  void TearDown() override { clock::use_real_clock(); }
};

TEST_F(VirtualClock, SleepAdvancesAtOnceTickWrapsAndThreadsShareIt) {
  EXPECT_TRUE(clock::is_virtual());
  EXPECT_EQ(clock::now_us(), 0u);
  EXPECT_EQ(clock::tick_ms(), 0u);
  const auto before = std::chrono::steady_clock::now();
  clock::sleep_ms(2000);
  // No real time has passed worth mentioning, but two virtual seconds have.
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  EXPECT_EQ(clock::tick_ms(), 2000u);
  clock::advance_us(1500);
  EXPECT_EQ(clock::now_us(), 2001500u);
  EXPECT_EQ(clock::tick_ms(), 2001u);  // truncated

  // Choosing the virtual clock again restarts it at zero.
  clock::use_virtual_clock();
  EXPECT_EQ(clock::now_us(), 0u);
  clock::advance_us((std::uint64_t{1} << 32) * 1000 + 5000);
  EXPECT_EQ(clock::tick_ms(), 5u);
  // Differences across the wrap work as with GetTickCount.
  const std::uint32_t start = clock::tick_ms() - 10;
  EXPECT_EQ(clock::tick_ms() - start, 10u);

  clock::use_virtual_clock();
  EXPECT_EQ(clock::now_us(), 0u);
  std::vector<threads::Thread> workers;
  for (int i = 0; i < 4; ++i) {
    workers.push_back(threads::Thread::start([] {
      for (int j = 0; j < 1000; ++j) clock::advance_us(3);
    }));
  }
  for (auto& w : workers) ASSERT_TRUE(w.wait(10000));
  EXPECT_EQ(clock::now_us(), 12000u);
}

TEST(RealClock, MovesWithTimeAndIgnoresAdvance) {
  clock::use_real_clock();
  EXPECT_FALSE(clock::is_virtual());
  const std::uint64_t a = clock::now_us();
  clock::advance_us(10'000'000);  // no effect on the real clock
  clock::sleep_ms(20);
  const std::uint64_t b = clock::now_us();
  EXPECT_GE(b - a, 15000u);
  EXPECT_LT(b - a, 5'000'000u);
}

TEST(Threads, WaitWithTimeoutJoinMoveAndEmpty) {
  std::atomic<int> release{0};
  auto t = threads::Thread::start([&] {
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  EXPECT_TRUE(t);
  EXPECT_TRUE(t.running());
  EXPECT_FALSE(t.wait(30));  // still running: the wait gives up
  release = 1;
  EXPECT_TRUE(t.wait(10000));
  EXPECT_FALSE(t.running());
  EXPECT_TRUE(t.wait(0));  // stays finished

  int value = 0;
  t = threads::Thread::start([&] { value = 5; });
  threads::Thread moved = std::move(t);
  EXPECT_FALSE(t);  // NOLINT(bugprone-use-after-move): a moved-from thread is empty
  moved.join();
  EXPECT_EQ(value, 5);
  threads::Thread empty;
  EXPECT_FALSE(empty.running());
  EXPECT_TRUE(empty.wait(0));
  empty.join();
}

TEST(Threads, DetachedThreadFinishesOnItsOwn) {
  auto done = std::make_shared<std::atomic<int>>(0);
  auto release = std::make_shared<std::atomic<int>>(0);
  {
    auto t = threads::Thread::start([done, release] {
      while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      *done = 1;
    });
    EXPECT_FALSE(t.wait(5));
  }  // destroyed without waiting: detached
  release->store(1);
  for (int i = 0; i < 10000 && !done->load(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(done->load(), 1);
}

}  // namespace
}  // namespace dz
