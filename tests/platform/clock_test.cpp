#include "platform/clock.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Clock, RealClockIsMonotonicAndSleeps) {
  uint64_t t0 = NowMs();
  int64_t c0 = PerfCounter();
  SleepMs(20);
  uint64_t t1 = NowMs();
  EXPECT_GE(t1 - t0, 20u);
  EXPECT_LT(t1 - t0, 1000u);
  EXPECT_EQ(PerfFrequency(), 1000000000);
  EXPECT_GE(PerfCounter() - c0, 20000000);
}

TEST(Clock, MillisecondsAreSixtyFourBit) {
  // Far past the 32-bit wrap of a Windows tick count: a deadline still compares correctly.
  VirtualClock clock(0xFFFFFFF0ull);
  ScopedClock use(clock);
  uint64_t deadline = NowMs() + 100;
  clock.Advance(50);
  EXPECT_LT(NowMs(), deadline);
  clock.Advance(60);
  EXPECT_GT(NowMs(), deadline);
}

TEST(Clock, VirtualClockStepsOnEveryRead) {
  VirtualClock clock(1000, 5, 250, 1000);
  ScopedClock use(clock);
  EXPECT_EQ(NowMs(), 1000u);
  EXPECT_EQ(NowMs(), 1005u);
  EXPECT_EQ(PerfCounter(), 0);
  EXPECT_EQ(PerfCounter(), 250);
  EXPECT_EQ(PerfFrequency(), 1000);
  SleepUs(1500);  // 2 ms on the millisecond clock (rounded up), 1.5 ticks -> 1 on the counter
  EXPECT_EQ(clock.Peek(), 1012u);
  EXPECT_EQ(clock.PeekCounter(), 501);
}

TEST(Clock, ScopedClockRestoresThePreviousOne) {
  VirtualClock outer(7), inner(9);
  {
    ScopedClock a(outer);
    {
      ScopedClock b(inner);
      EXPECT_EQ(NowMs(), 9u);
    }
    EXPECT_EQ(NowMs(), 7u);
  }
  EXPECT_EQ(&CurrentClock(), &SystemClock());
}

}  // namespace
}  // namespace platform
