// The real clock counts running time: the unbiased interrupt time, in milliseconds.
#include "Clock.h"

#include "WinApi.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemClockTest, TicksAreTheUnbiasedInterruptTimeInMilliseconds) {
    ULONGLONG before = 0;
    ULONGLONG after = 0;
    QueryUnbiasedInterruptTime(&before);
    const std::uint32_t ticks = SystemClock().Ticks();
    QueryUnbiasedInterruptTime(&after);
    EXPECT_GE(ticks, static_cast<std::uint32_t>(before / 10000));
    EXPECT_LE(ticks, static_cast<std::uint32_t>(after / 10000));
}

} // namespace
