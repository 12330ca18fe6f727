// The crash back-off as a table in virtual time: each row is a life of Tamrix, start after start,
// and the waits its ends get.
#include "CrashBackoff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One start of Tamrix, and how long it ran before it ended; a negative run is a hang restart (a
// start that ends by korvel's kill, not by itself).
struct BackoffCase {
    const char* name;
    std::uint32_t firstStart;
    std::vector<long long> runs;
    std::vector<std::uint32_t> waits; // one per end, in order
};

class CrashBackoffTest : public testing::TestWithParam<BackoffCase> {};

TEST_P(CrashBackoffTest, WaitsBeforeEachStart) {
    const BackoffCase& c = GetParam();
    TCrashBackoff backoff;
    std::uint32_t now = c.firstStart;
    std::vector<std::uint32_t> waits;
    for (const long long run : c.runs) {
        backoff.Started(now);
        now += static_cast<std::uint32_t>(run < 0 ? -run : run);
        if (run >= 0) {
            waits.push_back(backoff.Ended(now));
            now += waits.back() * 1000 + 500; // the wait, then the launch until the next start
        }
    }
    EXPECT_EQ(waits, c.waits);
}

constexpr std::uint32_t NearWrap = 4294967196u; // 100 ms before the 32-bit counter wraps

INSTANTIATE_TEST_SUITE_P(
    Table, CrashBackoffTest,
    testing::Values(
        BackoffCase{"CrashLoopNeverGivesUp",
                    1000,
                    {300, 300, 300, 300, 300, 300, 300, 300, 300, 300},
                    {0, 1, 2, 4, 8, 16, 32, 60, 60, 60}},
        BackoffCase{
            "ARunOfAMinuteBeginsANewCount", 1000, {300, 300, 60000, 300, 300}, {0, 1, 0, 0, 1}},
        BackoffCase{"JustUnderAMinuteIsQuick", 1000, {59999, 59999}, {0, 1}},
        BackoffCase{"LongRunsNeverWait", 1000, {3600000, 60000, 86400000}, {0, 0, 0}},
        // A hang restart between two quick ends keeps the count: the third start waits 1 s.
        BackoffCase{"HangRestartKeepsTheCount", 1000, {300, -2000, 300}, {0, 1}},
        BackoffCase{"StartBeforeTheTickWrap", NearWrap, {300, 300}, {0, 1}},
        BackoffCase{"LongRunAcrossTheTickWrap", NearWrap, {300, 70000, 300}, {0, 0, 0}}),
    [](const testing::TestParamInfo<BackoffCase>& info) { return std::string(info.param.name); });

} // namespace
