// The rotation plan: when it is due, and what makes room, also after a refused rotation.
#include "LogRotation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct PlanCase {
    const char* name;
    std::uint64_t size, entry, limit;
    std::uint32_t keep;
    std::vector<std::string> found; // beside "k"
    // "a>b": renamed; "-a": deleted, a refusal stops the rotation; "~a": surplus, deleted alone
    std::vector<std::string> steps;
};

class LogRotationPlanTest : public testing::TestWithParam<PlanCase> {};

TEST_P(LogRotationPlanTest, MakesRoomForOneMoreCopy) {
    const PlanCase& c = GetParam();
    std::vector<std::string> steps;
    if (RotationDue(c.size, c.entry, c.limit)) {
        const TRotationPlan plan = PlanRotation("k", c.keep, c.found);
        for (const std::string& name : plan.Surplus)
            steps.push_back("~" + name);
        for (const TRotationStep& step : plan.Chain)
            steps.push_back(step.To.empty() ? "-" + step.From : step.From + ">" + step.To);
    }
    EXPECT_EQ(steps, c.steps);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogRotationPlanTest,
    testing::Values(
        PlanCase{"Off", 5000, 10, 0, 2, {}, {}},
        // A line longer than the limit must not rotate the fresh file it would begin.
        PlanCase{"EmptyFileNeverRotates", 0, 500, 100, 2, {}, {}},
        PlanCase{"LineEndsAtTheLimit", 90, 10, 100, 2, {}, {}},
        PlanCase{"OneByteOver", 91, 10, 100, 2, {}, {"k>k.1"}},
        PlanCase{
            "AllTakenOldestGoes", 91, 10, 100, 2, {"k.2", "K.1"}, {"-k.2", "k.1>k.2", "k>k.1"}},
        // A refused last step leaves a hole at 1: the next attempt deletes nothing.
        PlanCase{"HoleAtOne", 91, 10, 100, 3, {"k.2", "k.3"}, {"k>k.1"}},
        PlanCase{"HoleInTheMiddle", 91, 10, 100, 3, {"k.1", "k.3"}, {"k.1>k.2", "k>k.1"}},
        PlanCase{"KeepLowered", 91, 10, 100, 1, {"k.3", "k.1"}, {"~k.3", "-k.1", "k>k.1"}},
        PlanCase{"KeepZeroCountsAsOne", 91, 10, 100, 0, {"k.1"}, {"-k.1", "k>k.1"}},
        // Names the log never writes are no copies: never moved, never deleted.
        PlanCase{
            "NoCopies", 91, 10, 100, 1, {"k.01", "k.0", "k.1.bak", "k.9999999999"}, {"k>k.1"}}),
    [](const testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

} // namespace
