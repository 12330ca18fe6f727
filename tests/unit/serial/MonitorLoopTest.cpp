// The heartbeat loop in virtual time: the fake clock's sleep advances time and plays Tamrix's part
// by setting events at given ticks, so windows of minutes (and the 32-bit tick wrap) take no real
// time. No Tamrix.exe exists beside the test folder, so every restart fails quickly, sets the
// shutdown event and ends the thread; the tick at that moment is the tick of detection.
#include "FKorvelEvents.h"
#include "FakeClock.h"
#include "Deadline.h"
#include "Log.h"
#include "Monitor.h"
#include "TempDir.h"
#include "WatchdogEvents.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

TKorvelEventsRef Events() {
    return TKorvelEvents::KorvelEvents();
}

// What Tamrix does at a pass: called with the tick the sleep has just reached.
using TScript = std::function<void(std::uint32_t now)>;

struct LoopCase {
    const char* name;
    const char* options; // lines of section Options
    std::uint32_t startTick;
    TScript script;
    std::uint32_t detectedAt;
    const char* expectedLines; // the lines before "Trying to kill...", joined by "|"
};

// The supervisor's folder, where "..\Tamrix.exe" is missing, as the current directory.
class TLoopFixture : public TWatchdogEventsTest {
protected:
    void SetUp() override {
        TWatchdogEventsTest::SetUp();
        // "..\Tamrix.exe" is looked for from here and is missing.
        const std::string work = FDir.File("korvel");
        CreateDirectoryA(work.c_str(), nullptr);
        GetCurrentDirectoryA(MAX_PATH, FOldDirectory);
        SetCurrentDirectoryA(work.c_str());
    }
    void TearDown() override {
        SetCurrentDirectoryA(FOldDirectory);
        TWatchdogEventsTest::TearDown();
    }

    TTempDir FDir;
    char FOldDirectory[MAX_PATH] = {};
};

class MonitorLoopTest : public TLoopFixture, public testing::WithParamInterface<LoopCase> {};

TEST_P(MonitorLoopTest, DetectsAtTheExpectedTick) {
    const LoopCase& c = GetParam();
    const std::string ini = FDir.File("korvel.ini");
    TTempDir::WriteFile(ini, std::string("[Options]\r\n") + c.options);
    TLog log(FDir.File("korvel.log"), true);
    TFakeClock clock(c.startTick);
    std::atomic<bool> playing{true};
    clock.SetSleepHook([&](std::uint32_t) {
        if (playing)
            c.script(clock.Ticks());
    });

    auto monitor = std::make_unique<TMonitor>(log, ini, clock);
    // The failed restart sets the shutdown event; a minute of real time is plenty for hours of
    // virtual time.
    ASSERT_EQ(Events()->Shutdown().WaitFor(60000), WaitResult::Signaled);
    playing = false;
    const std::uint32_t detectedAt = clock.Ticks();
    monitor.reset();

    EXPECT_EQ(detectedAt, c.detectedAt);
    std::string expected = std::string("Log created|") + c.expectedLines;
    std::string actual;
    for (const std::string& line : LogLines(FDir.File("korvel.log"))) {
        if (line.rfind("Trying to kill...", 0) == 0)
            break;
        actual += (actual.empty() ? "" : "|") + line;
    }
    EXPECT_EQ(actual, expected);
}

// Tamrix's pulses as a script: each event set at one tick, or at every pass.
TScript Pulses(std::vector<std::pair<std::uint32_t, const char*>> at, bool callStreamAlways) {
    return [at, callStreamAlways](std::uint32_t now) {
        auto events = Events();
        if (callStreamAlways)
            events->CallStream().SetEvent();
        for (const auto& [tick, which] : at) {
            if (tick != now)
                continue;
            const std::string name(which);
            if (name == "main")
                events->MainThread().SetEvent();
            else if (name == "busy")
                events->MainThreadBusy().SetEvent();
            else if (name == "call")
                events->CallStream().SetEvent();
        }
    };
}

const char* const Defaults = "main_timeout=60\r\ncall_stream_timeout=60\r\nbusy_timeout=5400\r\n";

INSTANTIATE_TEST_SUITE_P(
    VirtualTime, MonitorLoopTest,
    testing::Values(
        // A main pulse seen at 1 000 000 keeps the thread in time for 60 100 ms.
        LoopCase{"MainWindow", Defaults, 999500, Pulses({{1000000, "main"}}, true), 1060100,
                 "Main thread not responding."},
        // Busy switches the main window to 5 400 100 ms.
        LoopCase{"BusyWindow", Defaults, 1999500, Pulses({{2000000, "busy"}}, true), 7400100,
                 "Main thread not responding."},
        // The call stream stopped at 2 000 000; busy held it in time. The main pulse at
        // 2 500 000 clears busy in its own pass, so the very next pass finds it overdue.
        LoopCase{"MainPulseClearsBusyInTheSamePass", Defaults, 1999500,
                 Pulses({{2000000, "busy"}, {2000000, "call"}, {2500000, "main"}}, false), 2500100,
                 "Call stream thread not responding."},
        // Busy and main in one pass: set and cleared again, the normal window follows.
        LoopCase{"BusyAndMainInOnePass", Defaults, 999500,
                 Pulses({{1000000, "busy"}, {1000000, "main"}}, true), 1060100,
                 "Main thread not responding."},
        // No pulse at all: both windows run from the start of the body; one restart for both.
        LoopCase{"BothOverdueInOnePass", Defaults, 5000, Pulses({}, false), 65100,
                 "Main thread not responding.|Call stream thread not responding."},
        LoopCase{"CallStreamOwnWindow", "main_timeout=60\r\ncall_stream_timeout=5\r\n", 5000,
                 [](std::uint32_t) { Events()->MainThread().SetEvent(); }, 10100,
                 "Call stream thread not responding."},
        // A pulse just before the 32-bit counter wraps keeps its full window after the wrap.
        LoopCase{"PulseBeforeTheTickWrap", Defaults, 4294966296u,
                 Pulses({{4294967196u, "main"}}, true), 60000, "Main thread not responding."}),
    [](const testing::TestParamInfo<LoopCase>& info) { return std::string(info.param.name); });

// An hour without pulses, in two ways. Asleep: the machine sleeps through it, so Tamrix's timers
// and the supervisor's running time both stand still, while the world's clock moves on by the hour.
// Hung: the hour passes in running time. Only the second is silence.
struct SilenceCase {
    const char* name;
    bool machineAsleep;
};

class MachineSleepTest : public TLoopFixture, public testing::WithParamInterface<SilenceCase> {};

TEST_P(MachineSleepTest, OnlySilenceInRunningTimeRestarts) {
    constexpr std::uint32_t From = 1000000;
    constexpr std::uint32_t Hour = 3600000;
    const bool asleep = GetParam().machineAsleep;
    const std::string ini = FDir.File("korvel.ini");
    TTempDir::WriteFile(ini, std::string("[Options]\r\n") + Defaults);
    TLog log(FDir.File("korvel.log"), true);
    TFakeClock clock(From - 5000);
    std::atomic<bool> playing{true};
    std::atomic<bool> done{false};
    clock.SetSleepHook([&](std::uint32_t) {
        if (!playing)
            return;
        const std::uint32_t now = clock.Ticks();
        if (asleep && now == From)
            clock.Hibernate(Hour);
        const bool hung = !asleep && now >= From && now < From + Hour;
        if (!hung) {
            Events()->MainThread().SetEvent();
            Events()->CallStream().SetEvent();
        }
        // Two minutes of running time after the hour, well beyond every window.
        if (now >= From + (asleep ? 0 : Hour) + 120000)
            done = true;
    });

    auto monitor = std::make_unique<TMonitor>(log, ini, clock);
    const auto restarted = [&] { return Events()->Shutdown().WaitFor(0) == WaitResult::Signaled; };
    ASSERT_TRUE(WaitUntil([&] { return done || restarted(); }, 60000));
    playing = false;
    const std::uint32_t stoppedAt = clock.Ticks();
    monitor.reset();

    const std::string logText = TTempDir::FileExists(FDir.File("korvel.log"))
                                    ? TTempDir::ReadFile(FDir.File("korvel.log"))
                                    : "";
    if (asleep) {
        EXPECT_FALSE(restarted());
        EXPECT_EQ(logText.find("not responding"), std::string::npos) << logText;
        EXPECT_EQ(clock.Uptime() - clock.Ticks(), Hour) << "the hour passed asleep";
    } else {
        EXPECT_TRUE(restarted());
        EXPECT_NE(logText.find("Main thread not responding."), std::string::npos) << logText;
        // The last pulse was seen at the pass before From: one window of 60 100 ms after it.
        EXPECT_GE(stoppedAt, From - 100 + 60100);
        EXPECT_LE(stoppedAt, From + 60100 + 100);
    }
}

INSTANTIATE_TEST_SUITE_P(Silence, MachineSleepTest,
                         testing::Values(SilenceCase{"MachineAsleepForAnHour", true},
                                         SilenceCase{"HungForAnHourOfRunningTime", false}),
                         [](const testing::TestParamInfo<SilenceCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
