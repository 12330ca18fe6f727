// One heartbeat pass as a pure table: the state before, the time, what the polls found; the
// verdict and the state after. Default timeouts: main and call stream 60 s (window 60 100 ms),
// busy 5400 s (window 5 400 100 ms).
#include "Heartbeat.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using H = HeartbeatState;
using P = EventPoll;

struct PassCase {
    const char* name;
    THeartbeats before;
    std::uint32_t now;
    P busy, main, call;
    H expectedMain, expectedCall;
    THeartbeats after;
};

void PrintTo(const PassCase& c, std::ostream* os) {
    *os << c.name;
}

class HeartbeatPassTest : public testing::TestWithParam<PassCase> {};

TEST_P(HeartbeatPassTest, VerdictAndStateAfter) {
    const PassCase& c = GetParam();
    THeartbeats heartbeats = c.before;
    const THeartbeatVerdict verdict =
        HeartbeatPass(heartbeats, c.now, TSettings{}, c.busy, c.main, c.call);
    EXPECT_EQ(verdict.Main, c.expectedMain);
    EXPECT_EQ(verdict.CallStream, c.expectedCall);
    EXPECT_EQ(heartbeats.LastMainTick, c.after.LastMainTick);
    EXPECT_EQ(heartbeats.LastCallStreamTick, c.after.LastCallStreamTick);
    EXPECT_EQ(heartbeats.Busy, c.after.Busy);
}

constexpr std::uint32_t Wrap = 4294967196u; // 100 ms before the 32-bit counter wraps

INSTANTIATE_TEST_SUITE_P(
    Table, HeartbeatPassTest,
    testing::Values(
        PassCase{"BothSeen",
                 {1000, 1000, false},
                 90000,
                 P::Unset,
                 P::Set,
                 P::Set,
                 H::Seen,
                 H::Seen,
                 {90000, 90000, false}},
        PassCase{"LastMillisecondInTime",
                 {0, 0, false},
                 60099,
                 P::Unset,
                 P::Unset,
                 P::Unset,
                 H::InTime,
                 H::InTime,
                 {0, 0, false}},
        PassCase{"OverdueAtTheWindow",
                 {0, 30000, false},
                 60100,
                 P::Unset,
                 P::Unset,
                 P::Unset,
                 H::Overdue,
                 H::InTime,
                 {0, 30000, false}},
        PassCase{"BothOverdue",
                 {0, 0, false},
                 60100,
                 P::Unset,
                 P::Unset,
                 P::Unset,
                 H::Overdue,
                 H::Overdue,
                 {0, 0, false}},
        // The busy pulse renews the main tick and gives both heartbeats the busy window.
        PassCase{"BusyAnnounced",
                 {0, 0, false},
                 100000,
                 P::Set,
                 P::Unset,
                 P::Unset,
                 H::InTime,
                 H::InTime,
                 {100000, 0, true}},
        PassCase{"BusyWindowOverdue",
                 {0, 0, true},
                 5400100,
                 P::Unset,
                 P::Unset,
                 P::Unset,
                 H::Overdue,
                 H::Overdue,
                 {0, 0, true}},
        // While busy, the busy event is not polled: what a poll found counts for nothing.
        PassCase{"BusyPulseIgnoredWhileBusy",
                 {0, 0, true},
                 100000,
                 P::Set,
                 P::Unset,
                 P::Unset,
                 H::InTime,
                 H::InTime,
                 {0, 0, true}},
        // Set and cleared in one pass; this pass still measured the call stream on busy.
        PassCase{"BusyClearedInTheSamePass",
                 {0, 0, false},
                 100000,
                 P::Set,
                 P::Set,
                 P::Unset,
                 H::Seen,
                 H::InTime,
                 {100000, 0, false}},
        PassCase{"MainPulseEndsBusy",
                 {0, 0, true},
                 100000,
                 P::Unset,
                 P::Set,
                 P::Unset,
                 H::Seen,
                 H::InTime,
                 {100000, 0, false}},
        PassCase{"FailedPollIsAnEventError",
                 {0, 0, false},
                 1000,
                 P::Unset,
                 P::Failed,
                 P::Failed,
                 H::EventError,
                 H::EventError,
                 {0, 0, false}},
        // A failed busy poll is reported elsewhere and changes nothing here.
        PassCase{"FailedBusyPollChangesNothing",
                 {0, 0, false},
                 1000,
                 P::Failed,
                 P::Unset,
                 P::Unset,
                 H::InTime,
                 H::InTime,
                 {0, 0, false}},
        PassCase{"PulseBeforeTheWrapInTimeAfterIt",
                 {Wrap, Wrap, false},
                 59999,
                 P::Unset,
                 P::Unset,
                 P::Unset,
                 H::InTime,
                 H::InTime,
                 {Wrap, Wrap, false}},
        PassCase{"PulseBeforeTheWrapOverdueAfterIt",
                 {Wrap, Wrap, false},
                 60000,
                 P::Unset,
                 P::Unset,
                 P::Unset,
                 H::Overdue,
                 H::Overdue,
                 {Wrap, Wrap, false}}),
    [](const testing::TestParamInfo<PassCase>& info) { return std::string(info.param.name); });

} // namespace
