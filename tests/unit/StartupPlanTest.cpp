// The start-up waits of one restart as a pure table: where it begins, how many launches, how long
// in all, what is kept for the next restart.
#include "StartupPlan.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

struct PlanCase {
    std::uint32_t learnt;     // what the last restart kept
    std::uint32_t answeredAt; // the launch whose start comes, from 1; 0: none
    std::uint32_t launches;
    std::uint32_t firstWait;
    std::uint32_t totalWait; // seconds of waiting, the answered wait counted whole
    std::uint32_t kept;      // written back after the restart
};

class StartupPlanTest : public testing::TestWithParam<PlanCase> {};

TEST_P(StartupPlanTest, LaunchesWaitsAndWhatIsKept) {
    const PlanCase& c = GetParam();
    TStartupPlan plan(c.learnt);
    std::vector<std::uint32_t> waits;
    while (const auto wait = plan.NextWait()) {
        waits.push_back(*wait);
        if (waits.size() == c.answeredAt)
            break;
        plan.Unanswered();
    }
    ASSERT_EQ(waits.size(), c.launches);
    EXPECT_EQ(waits.front(), c.firstWait);
    EXPECT_EQ(std::accumulate(waits.begin(), waits.end(), 0u), c.totalWait);
    for (std::size_t i = 1; i < waits.size(); ++i)
        EXPECT_EQ(waits[i], waits[i - 1] + 1) << "each wait one second longer";
    EXPECT_EQ(plan.Learnt(), c.kept);
    EXPECT_EQ(plan.NextWait().has_value(), c.answeredAt != 0) << "given up exactly when unanswered";
}

INSTANTIATE_TEST_SUITE_P(Table, StartupPlanTest,
                         testing::Values(
                             // Never answered: every plan ends at the 19 s wait and keeps 20.
                             PlanCase{1, 0, 19, 1, 190, 20}, PlanCase{2, 0, 19, 1, 190, 20},
                             PlanCase{5, 0, 16, 4, 184, 20}, PlanCase{19, 0, 2, 18, 37, 20},
                             PlanCase{20, 0, 1, 19, 19, 20},
                             // Answered: the answered wait is kept; the next plan begins below it.
                             PlanCase{5, 1, 1, 4, 4, 4}, PlanCase{3, 2, 2, 2, 5, 3},
                             PlanCase{1, 1, 1, 1, 1, 1}, PlanCase{20, 1, 1, 19, 19, 19}));

TEST(StartupPlanTest, NextRestartBeginsOneSecondBelowWhatWasKept) {
    EXPECT_EQ(TStartupPlan(TStartupPlan(5).Learnt()).NextWait(), 3u);
    EXPECT_EQ(TStartupPlan(1).NextWait(), 1u);
}

} // namespace
