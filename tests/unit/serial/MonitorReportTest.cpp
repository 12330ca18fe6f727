// What the supervisor reports: the lines a failed wait leaves in the log, with the rebuild of the
// event set, and the figures each of its acts moves.
#include "Deadline.h"
#include "Errors.h"
#include "FKorvelEvents.h"
#include "Log.h"
#include "Metrics.h"
#include "Monitor.h"
#include "MonitorBed.h"
#include "MonitorText.h"
#include "ScopeExit.h"
#include "TempDir.h"
#include "WatchdogEvents.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

class ReportEventErrorTest : public TWatchdogEventsTest {
protected:
    TTempDir FDir;
    std::string FLogFile = FDir.File("korvel.log");
    TLog FLog{FLogFile, true};
};

TEST_F(ReportEventErrorTest, WaitsThatDidNotFailLeaveEverythingAsItWas) {
    const TKorvelEventsRef before = TKorvelEvents::KorvelEvents();
    for (WaitResult result : {WaitResult::Signaled, WaitResult::TimedOut})
        TMonitor::ReportEventError(result, before->Startup(), FLog);
    EXPECT_EQ(TKorvelEvents::KorvelEvents(), before);
    EXPECT_FALSE(TTempDir::FileExists(FLogFile));
}

struct ReportCase {
    WaitResult result;
    std::string ending; // what follows "Fatal error: "
};

TEST_F(ReportEventErrorTest, EachFailureWritesOneLineAndRebuildsTheSet) {
    // A handle the OS refuses: the name belongs to a mutex, so the wait fails for real.
    THandle mutex(CreateMutexA(nullptr, FALSE, "KorvelTestNotAnEvent"));
    ASSERT_TRUE(mutex);
    TEvent broken("KorvelTestNotAnEvent");
    ASSERT_FALSE(broken.IsValid());
    ASSERT_EQ(broken.WaitFor(0), WaitResult::Failed);
    ASSERT_NE(broken.LastError(), 0);

    const ReportCase cases[] = {
        {WaitResult::Abandoned, "Event object destroyed."},
        {WaitResult::Failed, "An error occurred while waiting " +
                                 SysErrorMessage(static_cast<std::uint32_t>(broken.LastError()))},
        {static_cast<WaitResult>(4), "Unknown event error"},
        {static_cast<WaitResult>(255), "Unknown event error"},
    };
    std::vector<std::string> expected = {"Log created"};
    for (const ReportCase& c : cases) {
        const TKorvelEventsRef before = TKorvelEvents::KorvelEvents();
        TMonitor::ReportEventError(c.result, broken, FLog);
        EXPECT_NE(TKorvelEvents::KorvelEvents(), before) << c.ending;
        expected.push_back("Fatal error: " + c.ending);
    }
    EXPECT_EQ(LogLines(FLogFile), expected);
}

TEST_F(ReportEventErrorTest, RebuildKeepsTheStateOfEventsHeldElsewhere) {
    // This handle stands for Tamrix's: the kernel object outlives the watchdog's set.
    THandle tamrixStartup(CreateEventA(nullptr, TRUE, FALSE, "TamrixStartup"));
    ASSERT_TRUE(tamrixStartup);
    SetEvent(tamrixStartup.Get());
    TMonitor::ReportEventError(WaitResult::Abandoned, TKorvelEvents::KorvelEvents()->Startup(),
                               FLog);
    EXPECT_EQ(TKorvelEvents::KorvelEvents()->Startup().WaitFor(0), WaitResult::Signaled);
    ResetEvent(tamrixStartup.Get());
}

// Each act of the supervisor, in virtual time, and every figure afterwards: those it must move
// and all those it must leave alone.
struct MetricsCase {
    const char* name;
    const char* options;              // after the timeouts: further lines of the file
    std::vector<TScriptEntry> script; // besides the heartbeats, which the test plays
    bool bystanderRecorded;           // a harmless program's id is the recorded one
    bool logsFolder;
    std::vector<TLaunchAct> plan; // no double at all when empty
    std::string until;            // the last line of the act; empty: none comes
    TMetricsFigures expected;     // times, session, version and user aside
};

class MonitorMetricsTest : public TMonitorBed, public testing::WithParamInterface<MetricsCase> {};

TEST_P(MonitorMetricsTest, EachActMovesExactlyItsFigures) {
    const MetricsCase& c = GetParam();
    if (c.logsFolder)
        CreateDirectoryA((FApp + "\\logs").c_str(), nullptr);
    std::optional<TChildProcess> bystander;
    std::string recorded;
    if (c.bystanderRecorded) {
        bystander.emplace(Quoted(TestBinDirectory() + "\\Bystander.exe") + " 60000");
        recorded = "[Application]\r\nprocess_id=" + std::to_string(bystander->ProcessId()) + "\r\n";
    }
    WriteOptions(std::string("main_timeout=5\r\ncall_stream_timeout=5\r\nstartup_timeout=5\r\n") +
                 c.options + recorded);
    std::optional<TChildProcess> first;
    if (!c.plan.empty()) {
        std::vector<TScriptEntry> script = {{"main_interval_ms", 0}, {"call_interval_ms", 0}};
        script.insert(script.end(), c.script.begin(), c.script.end());
        InstallDouble({});
        WriteTamrixScript(FTamrix, script);
        first.emplace(StartFirstDouble());
    }
    TMetrics metrics(FLog, FDir.Path());
    const TScopeExit stop([&] { FMonitor.reset(); });
    StartVirtualMonitor(c.plan, metrics);
    if (c.until.empty()) {
        ASSERT_TRUE(first && first->WaitForExit(10000));
        const std::uint32_t ended = FVirtual.Ticks();
        ASSERT_TRUE(WaitUntil([&] { return FVirtual.Ticks() - ended >= 5000; }, 10000));
    } else {
        ASSERT_TRUE(WaitForLogLine(FLogFile, c.until, 30000))
            << ::testing::PrintToString(LogLines(FLogFile));
    }
    FMonitor.reset();

    TMetricsFigures figures = metrics.Figures();
    EXPECT_EQ(figures.LastRestart != 0, figures.HangRestarts + figures.ExitRestarts != 0);
    figures.Session = figures.Version = figures.User = {};
    // Not the poll stamp: a supervisor that has ended leaves the file its write time (0 here).
    figures.StartTime = figures.LastUpdate = figures.LastRestart = 0;
    EXPECT_EQ(MetricsText(figures), MetricsText(c.expected))
        << ::testing::PrintToString(LogLines(FLogFile));
}

const std::vector<TLaunchAct> MainHang = {{TTamrixAct::MainHang, 1000}};
const std::string Restarted = "Trying to start...wait 4 sec...success";

INSTANTIATE_TEST_SUITE_P(
    Table, MonitorMetricsTest,
    testing::Values(
        MetricsCase{
            "MainThreadHang",
            "",
            {},
            false,
            false,
            MainHang,
            Restarted,
            {.TamrixRunning = true, .MainHangs = 1, .HangRestarts = 1, .StartupTimeout = 4}},
        MetricsCase{
            "CallStreamHang",
            "",
            {},
            false,
            false,
            {{TTamrixAct::CallStreamHang, 1000}},
            Restarted,
            {.TamrixRunning = true, .CallStreamHangs = 1, .HangRestarts = 1, .StartupTimeout = 4}},
        MetricsCase{"KillRefusedByTheGuard",
                    "",
                    {{"record_pid", 0}},
                    true,
                    false,
                    MainHang,
                    Restarted,
                    {.TamrixRunning = true,
                     .MainHangs = 1,
                     .HangRestarts = 1,
                     .KillFailures = 1,
                     .StartupTimeout = 4}},
        // No Tamrix.exe and no recorded id: both heartbeats are overdue, and neither the kill nor
        // the start can be done.
        MetricsCase{"KillWithoutIdAndStartGivenUp",
                    "",
                    {},
                    false,
                    false,
                    {},
                    "Restart failed. Please run the application manually.",
                    {.MainHangs = 1,
                     .CallStreamHangs = 1,
                     .HangRestarts = 1,
                     .RestartFailures = 1,
                     .KillFailures = 1,
                     .StartupTimeout = 4,
                     .TamrixGivenUp = true}},
        MetricsCase{"ExitStartedAgainAtOnce",
                    "[Recovery]\r\nrestart_on_exit=1\r\n",
                    {},
                    false,
                    false,
                    {{TTamrixAct::Crash, 1000}},
                    Restarted,
                    {.TamrixRunning = true, .ExitRestarts = 1, .StartupTimeout = 4}},
        MetricsCase{"ExitAfterABackoff",
                    "[Recovery]\r\nrestart_on_exit=1\r\n",
                    {},
                    false,
                    false,
                    {{TTamrixAct::Crash, 1000}, {TTamrixAct::Crash, 1000}},
                    "Trying to start...wait 3 sec...success",
                    {.TamrixRunning = true, .ExitRestarts = 2, .StartupTimeout = 3}},
        MetricsCase{"DumpDone",
                    "[Recovery]\r\nhang_dump=1\r\n",
                    {},
                    false,
                    true,
                    MainHang,
                    Restarted,
                    {.TamrixRunning = true,
                     .MainHangs = 1,
                     .HangRestarts = 1,
                     .DumpSuccesses = 1,
                     .StartupTimeout = 4}},
        MetricsCase{"DumpFailed",
                    "[Recovery]\r\nhang_dump=1\r\n",
                    {},
                    false,
                    false,
                    MainHang,
                    Restarted,
                    {.TamrixRunning = true,
                     .MainHangs = 1,
                     .HangRestarts = 1,
                     .DumpFailures = 1,
                     .StartupTimeout = 4}},
        MetricsCase{"SupervisorError",
                    "",
                    {},
                    false,
                    false,
                    {{TTamrixAct::Raise, 1000}},
                    FatalErrorLine("std::exception", "played"),
                    {.SupervisorErrors = 1, .StartupTimeout = 5}},
        // Tamrix signals its shutdown and ends: no crash, nothing moves.
        MetricsCase{"EndAfterTheShutdownSignal",
                    "[Recovery]\r\nrestart_on_exit=1\r\n",
                    {{"shutdown_ms", 300}},
                    false,
                    false,
                    {{TTamrixAct::Healthy, 0}},
                    "",
                    {.StartupTimeout = 5}}),
    [](const testing::TestParamInfo<MetricsCase>& info) { return std::string(info.param.name); });

} // namespace
