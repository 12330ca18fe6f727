// tarrow's delay: the whole requested time is slept, in one blocking sleep where it fits 32 bits,
// and nothing at all is slept for a bad delay.
#include "Errors.h"
#include "FakeClock.h"
#include "Tarrow.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

struct DelayCase {
    const char* argument;
    std::vector<std::uint32_t> parts; // the sleeps, in order
};

class DelayTest : public testing::TestWithParam<DelayCase> {};

TEST_P(DelayTest, SleepsTheWholeTimeInAsFewSleepsAsFit) {
    TFakeClock clock;
    std::vector<std::uint32_t> parts;
    clock.SetSleepHook([&](std::uint32_t milliseconds) { parts.push_back(milliseconds); });
    Delay(GetParam().argument, clock);
    EXPECT_EQ(parts, GetParam().parts);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DelayTest,
    testing::Values(DelayCase{"1", {1000}}, DelayCase{"$A", {10000}}, DelayCase{" 7", {7000}},
                    // The longest delay one 32-bit sleep carries exactly.
                    DelayCase{"4294967", {4294967000u}},
                    // One second more no longer fits: a second sleep carries it.
                    DelayCase{"4294968", {4294967000u, 1000}},
                    DelayCase{"8589934", {4294967000u, 4294967000u}}));

TEST(DelayTest, TheLargestDelayAddsUpToItsFullLength) {
    TFakeClock clock;
    std::uint64_t slept = 0;
    clock.SetSleepHook([&](std::uint32_t milliseconds) {
        // Never the value that would mean "for ever".
        EXPECT_NE(milliseconds, 0xFFFFFFFFu);
        slept += milliseconds;
    });
    Delay("2147483647", clock);
    EXPECT_EQ(slept, 2147483647ull * 1000);
}

class BadDelayTest : public testing::TestWithParam<const char*> {};

TEST_P(BadDelayTest, RaisesBeforeSleepingAnything) {
    TFakeClock clock;
    try {
        Delay(GetParam(), clock);
        FAIL() << "accepted " << GetParam();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "The interval must be a positive integer number of seconds.");
    }
    EXPECT_EQ(clock.SleepCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, BadDelayTest,
                         testing::Values("", "0", "-3", "abc", "1.5", "7 ", "+", "$", "2147483648",
                                         "$80000000", "$FFFFFFFF"));

} // namespace
