// The launch decision while the session ends.
#include "LaunchGate.h"

#include <gtest/gtest.h>

namespace {

// Catches a relaunch during a sign-out, a cancelled sign-out that never launches, a stop that
// cannot end the wait, a stop that cancels a normal launch, and the held line repeated each poll.
TEST(LaunchGateTest, LaunchesOnlyOutsideASessionEnd) {
    const struct {
        bool sessionEnding, stopAsked, held;
        TLaunchGate expected;
    } cases[] = {
        {false, false, false, TLaunchGate::Launch}, {false, true, false, TLaunchGate::Launch},
        {false, false, true, TLaunchGate::Launch},  {true, false, false, TLaunchGate::Hold},
        {true, false, true, TLaunchGate::Wait},     {true, true, false, TLaunchGate::Stop},
        {true, true, true, TLaunchGate::Stop},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LaunchGate(c.sessionEnding, c.stopAsked, c.held), c.expected) << &c - cases;
}

// Catches a kill during a sign-out, a cancelled sign-out that never restarts, and the held line
// repeated each pass.
TEST(LaunchGateTest, RestartsOnlyOutsideASessionEnd) {
    EXPECT_EQ(RestartGate(false, false), TRestartGate::Restart);
    EXPECT_EQ(RestartGate(false, true), TRestartGate::Restart);
    EXPECT_EQ(RestartGate(true, false), TRestartGate::Hold);
    EXPECT_EQ(RestartGate(true, true), TRestartGate::Wait);
}

} // namespace
