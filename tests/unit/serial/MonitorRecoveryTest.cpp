// The opt-in recovery features with real processes: hang dumps before the kill, and a Tamrix that
// ends without its shutdown started again at once.
#include "Deadline.h"
#include "Errors.h"
#include "HangDump.h"
#include "Minidump.h"
#include "Metrics.h"
#include "MonitorBed.h"
#include "ScopeExit.h"
#include "SharedFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <regex>

namespace {

class MonitorRecoveryTest : public TMonitorBed {
protected:
    // The files of a folder that are hang dumps.
    static std::vector<std::string> Dumps(const std::string& folder) {
        std::vector<std::string> names;
        for (const TFoundFile& file : FindFiles(folder + "\\*"))
            if (IsHangDumpFileName(file.Name) || file.Name[0] == '~')
                names.push_back(file.Name);
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(MonitorRecoveryTest, HangDumpsBeforeEachKillKeepingTheNewest) {
    const std::string logs = FApp + "\\logs";
    CreateDirectoryA(logs.c_str(), nullptr);
    // Four launches hang; the fifth stays healthy.
    InstallDouble({{"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"main_stop_ms", 1000},
                   {"launch.5.main_stop_ms", -1}});
    WriteOptions("main_timeout=1\r\nstartup_timeout=5\r\n[Recovery]\r\nhang_dump=1\r\n"
                 "hang_dump_keep=2\r\n");
    TChildProcess first = StartFirstDouble();
    StartMonitor();
    // The main thread of each hung launch, taken while it runs.
    std::map<std::uint32_t, std::uint32_t> mainThreadOf;
    for (int launch = 1; launch <= 4; ++launch) {
        std::uint32_t pid = 0;
        ASSERT_TRUE(WaitForTamrixTrace(
            FTamrix,
            [&](const TTraceRecord& r) {
                pid = r.Pid;
                return r.Launch == launch && r.What == "startup-set";
            },
            30000));
        mainThreadOf[pid] = ThreadsOf(pid).at(0);
    }
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 1 sec...success", 30000));

    const std::regex dumped(R"(Trying to dump\.\.\.success \((Tamrix-\d{8}-\d{6}-(\d+)\.dmp)\))");
    std::vector<std::string> names;
    const std::vector<std::string> lines = LogLines(FLogFile);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        std::smatch match;
        if (!std::regex_match(lines[i], match, dumped))
            continue;
        names.push_back(match[1]);
        EXPECT_EQ(lines[i + 1], "Trying to kill...success") << "the kill follows the dump";
        EXPECT_EQ(mainThreadOf.count(std::stoul(match[2])), 1u) << "dumped another process";
    }
    ASSERT_EQ(names.size(), 4u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[1], "Recovery: hang_dump=1 hang_dump_keep=2 restart_on_exit=0");
    // The two newest are kept: whole dumps that hold the hung main thread.
    EXPECT_EQ(Dumps(logs), (std::vector<std::string>{names[2], names[3]}));
    for (const std::string& name : {names[2], names[3]}) {
        const auto threads = MinidumpThreadIds(ReadSharedFile(logs + "\\" + name).value_or(""));
        ASSERT_TRUE(threads) << name;
        const std::uint32_t pid = std::stoul(name.substr(23));
        EXPECT_NE(std::find(threads->begin(), threads->end(), mainThreadOf[pid]), threads->end());
    }
}

// What the dump step refuses or cannot do leaves no file, and the kill step follows as always.
TEST_F(MonitorRecoveryTest, RefusedOrFailedDumpLeavesNoFileAndTheKillFollows) {
    // The first launch hangs; there is no logs folder for a dump.
    InstallDouble(
        {{"main_interval_ms", 100}, {"call_interval_ms", 100}, {"launch.1.main_stop_ms", 1500}});
    // A harmless program is the recorded process when the supervisor starts.
    TChildProcess bystander(Quoted(TestBinDirectory() + "\\Bystander.exe") + " 60000");
    TTempDir::WriteFile(FIni, "[Options]\r\nmain_timeout=1\r\nstartup_timeout=5\r\n"
                              "[Recovery]\r\nhang_dump=2\r\n[Application]\r\nprocess_id=" +
                                  std::to_string(bystander.ProcessId()) + "\r\n");
    StartMonitor();
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 3 sec...success", 40000))
        << ::testing::PrintToString(LogLines(FLogFile));

    const std::string refusal = "failed - process " + std::to_string(bystander.ProcessId()) +
                                " is Bystander.exe, not Tamrix.exe";
    const std::vector<std::string> expected = {
        "Log created",
        "Recovery: hang_dump=2 hang_dump_keep=5 restart_on_exit=0",
        "Main thread not responding.",
        "Trying to dump..." + refusal,
        "Trying to kill..." + refusal,
        "Trying to start...wait 4 sec...success",
        "Main thread not responding.",
        "Trying to dump...failed - " + ReasonText(ERROR_PATH_NOT_FOUND),
        "Trying to kill...success",
        "Trying to start...wait 3 sec...success",
    };
    EXPECT_EQ(LogLines(FLogFile), expected);
    EXPECT_TRUE(bystander.IsRunning());
    EXPECT_EQ(Dumps(FApp), std::vector<std::string>{});
    EXPECT_EQ(Dumps(FKorvel), std::vector<std::string>{});
}

// A recorded id of another program is refused as always, and the search for this session's Tamrix
// by its image, which only another session's Tamrix may start, leaves the running double alone.
TEST_F(MonitorRecoveryTest, ARecordedProgramIsRefusedAndNoOtherProcessIsKilled) {
    InstallDouble({{"record_pid", 0},
                   {"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"launch.1.main_stop_ms", 1000}});
    TChildProcess bystander(Quoted(TestBinDirectory() + "\\Bystander.exe") + " 60000");
    TTempDir::WriteFile(FIni, "[Options]\r\nmain_timeout=1\r\nstartup_timeout=5\r\n"
                              "[Application]\r\nprocess_id=" +
                                  std::to_string(bystander.ProcessId()) + "\r\n");
    TChildProcess first = StartFirstDouble();
    StartMonitor();
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000));
    EXPECT_EQ(LogLines(FLogFile),
              (std::vector<std::string>{"Log created", "Main thread not responding.",
                                        "Trying to kill...failed - process " +
                                            std::to_string(bystander.ProcessId()) +
                                            " is Bystander.exe, not Tamrix.exe",
                                        "Trying to start...wait 4 sec...success"}));
    EXPECT_TRUE(first.IsRunning());
    EXPECT_TRUE(bystander.IsRunning());
}

// Wine has one logon session: the test shows korvel the recorded Tamrix in another, through the
// supervisor's view of sessions. That Tamrix is never touched; the kill goes to this session's one
// Tamrix when one runs (the stand-in), and otherwise the line says why nothing was killed.
class OtherSessionTest : public MonitorRecoveryTest, public testing::WithParamInterface<bool> {};

TEST_P(OtherSessionTest, ARecordedTamrixOfAnotherSessionIsNeverKilled) {
    const bool standInRuns = GetParam();
    InstallDouble({});
    std::vector<TScriptEntry> script = {
        {"main_interval_ms", 100}, {"call_interval_ms", 100}, {"launch.1.main_stop_ms", 1500}};
    // The stand-in, launch 2, runs unrecorded and silent: its pulses would hide the hang.
    if (standInRuns)
        script.insert(script.end(), {{"launch.2.record_pid", 0},
                                     {"launch.2.start", 0},
                                     {"launch.2.main_interval_ms", 0},
                                     {"launch.2.call_interval_ms", 0}});
    WriteTamrixScript(FTamrix, script);
    WriteOptions("main_timeout=1\r\nstartup_timeout=5\r\n");
    TChildProcess recorded = StartFirstDouble();
    const std::uint32_t ownSession = *SystemProcessSessions().SessionOf(GetCurrentProcessId());
    FProcessSessions.Move(recorded.ProcessId(), ownSession + 1);
    std::optional<TChildProcess> standIn;
    if (standInRuns) {
        standIn.emplace(Quoted(FTamrix), FApp);
        ASSERT_TRUE(WaitForTamrixTrace(
            FTamrix, [](const TTraceRecord& r) { return r.Launch == 2 && r.What == "started"; },
            10000));
    }
    StartMonitor();
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000))
        << ::testing::PrintToString(LogLines(FLogFile));
    EXPECT_EQ(LogLines(FLogFile),
              (std::vector<std::string>{"Log created", "Main thread not responding.",
                                        standInRuns ? "Trying to kill...success"
                                                    : "Trying to kill...failed - process " +
                                                          std::to_string(recorded.ProcessId()) +
                                                          " runs in another logon session",
                                        "Trying to start...wait 4 sec...success"}));
    EXPECT_TRUE(recorded.IsRunning());
    if (standInRuns) {
        ASSERT_TRUE(standIn->WaitForExit(5000));
        EXPECT_EQ(standIn->ExitCode(), std::optional<std::uint32_t>(12345));
    }
}

INSTANTIATE_TEST_SUITE_P(StandIn, OtherSessionTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "OfThisSessionRuns" : "NoneRuns");
                         });

struct ExitCase {
    const char* name;
    bool restartOnExit;
    std::uint32_t exitCode;
    const char* firstLine; // after "Log created" and the Recovery line, if any
    const char* heldLine;  // the session ends, and this says so until its end is called off
};

class RestartOnExitTest : public MonitorRecoveryTest,
                          public testing::WithParamInterface<ExitCase> {};

TEST_P(RestartOnExitTest, EndWithoutShutdownIsStartedAgainAtOnce) {
    const ExitCase& c = GetParam();
    InstallDouble({{"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"launch.1.exit_ms", 800},
                   {"launch.1.exit_code", static_cast<std::int64_t>(c.exitCode)}});
    WriteOptions(
        std::string("main_timeout=1\r\nstartup_timeout=5\r\n[Recovery]\r\nrestart_on_exit=") +
        (c.restartOnExit ? "1" : "0") + "\r\n");
    TChildProcess first = StartFirstDouble();
    FSession.IsEnding = c.heldLine != nullptr;
    StartMonitor();
    ASSERT_TRUE(first.WaitForExit(10000));
    EXPECT_EQ(first.ExitCode(), std::optional<std::uint32_t>(c.exitCode));
    if (c.heldLine) {
        ASSERT_TRUE(WaitForLogLine(FLogFile, c.heldLine, 30000));
        Sleep(500); // several polls of the session
        EXPECT_EQ(ReadTamrixTrace(FTamrix).back().Launch, 1) << "launched while it ended";
        FSession.IsEnding = false;
    }
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000));

    std::vector<std::string> lines = LogLines(FLogFile);
    lines.erase(lines.begin());
    if (c.restartOnExit) {
        EXPECT_EQ(lines.at(0), "Recovery: hang_dump=0 hang_dump_keep=5 restart_on_exit=1");
        lines.erase(lines.begin());
    }
    // A heartbeat found overdue while the session ends starts nothing before its end is called off.
    if (!c.restartOnExit && c.heldLine) {
        EXPECT_EQ(lines.at(0), c.heldLine);
        lines.erase(lines.begin());
    }
    EXPECT_EQ(lines.at(0), c.firstLine);
    // A crash needs no kill; a heartbeat found overdue still goes through one.
    EXPECT_EQ(lines.at(1).rfind("Trying to kill...", 0) == 0, !c.restartOnExit) << lines.at(1);
    EXPECT_EQ(lines.back(), "Trying to start...wait 4 sec...success");
}

INSTANTIATE_TEST_SUITE_P(
    Table, RestartOnExitTest,
    testing::Values(ExitCase{"ExitCode3", true, 3, "Process ended with exit code 3.", nullptr},
                    ExitCase{"AccessViolation", true, 0xC0000005u,
                             "Process ended with exit code 0xC0000005.", nullptr},
                    // With the key at 0 the crash is found as a silent heartbeat, as always.
                    ExitCase{"KeyOff", false, 3, "Main thread not responding.", nullptr},
                    ExitCase{"ExitWhileTheSessionEnds", true, 3, "Process ended with exit code 3.",
                             "Start held while the session ends."},
                    ExitCase{"KillWhileTheSessionEnds", false, 3, "Main thread not responding.",
                             "Restart held while the session ends."}),
    [](const testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

// A Tamrix whose heartbeat stays away while its session ends may still be saving its user's work:
// no dump, close or kill until the end is called off, and one line for the whole end.
TEST_F(MonitorRecoveryTest, NoRestartWhileTheSessionEnds) {
    InstallDouble({{"main_interval_ms", 100}, {"call_interval_ms", 100}, {"call_stop_ms", 500}});
    WriteOptions("call_stream_timeout=1\r\nstartup_timeout=5\r\n[Recovery]\r\nhang_dump=1\r\n"
                 "close_timeout=5\r\n");
    TChildProcess first = StartFirstDouble();
    FSession.IsEnding = true;
    StartMonitor();
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Restart held while the session ends.", 30000));
    Sleep(1500); // many passes, each finding the call stream overdue
    EXPECT_TRUE(first.IsRunning());
    EXPECT_EQ(LogLines(FLogFile).size(), 3u);
    FSession.IsEnding = false;
    ASSERT_TRUE(first.WaitForExit(30000));
    EXPECT_EQ(first.ExitCode(), std::optional<std::uint32_t>(12345));
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000));
    const std::vector<std::string> expected = {
        "Log created",
        "Recovery: hang_dump=1 hang_dump_keep=5 restart_on_exit=0 close_timeout=5",
        "Restart held while the session ends.",
        "Call stream thread not responding.",
        "Trying to dump...failed - " + ReasonText(ERROR_PATH_NOT_FOUND),
        "Trying to close...failed - no window",
        "Trying to kill...success",
        "Trying to start...wait 4 sec...success"};
    EXPECT_EQ(LogLines(FLogFile), expected);
}

// A session that begins to end while Tamrix is asked to close, after the hang's line and its dump:
// no kill follows the close step. Once the end is called off the restart goes on with the kill: one
// hang, one line, one count of the hang and of the restart, one dump.
TEST_F(MonitorRecoveryTest, NoKillWhenTheSessionBeginsToEndDuringTheClose) {
    CreateDirectoryA((FApp + "\\logs").c_str(), nullptr);
    InstallDouble({{"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"window", 2},
                   {"launch.1.call_stop_ms", 1000}});
    WriteOptions("call_stream_timeout=1\r\nstartup_timeout=5\r\n[Recovery]\r\nclose_timeout=2\r\n"
                 "hang_dump=1\r\n");
    TChildProcess first = StartFirstDouble();
    TMetrics metrics(FLog, FDir.Path(), SystemClock(), FSession);
    const TScopeExit stop([&] { FMonitor.reset(); });
    FMonitor = std::make_unique<TMonitor>(FLog, FIni, SystemClock(), metrics, FSession);
    ASSERT_TRUE(WaitForTamrixTrace(
        FTamrix, [](const TTraceRecord& r) { return r.What == "close-ignored"; }, 30000));
    FSession.IsEnding = true;
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Restart held while the session ends.", 30000));
    Sleep(500);
    EXPECT_TRUE(first.IsRunning());
    FSession.IsEnding = false;
    ASSERT_TRUE(first.WaitForExit(30000));
    EXPECT_EQ(first.ExitCode(), std::optional<std::uint32_t>(12345));
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000));
    FMonitor.reset();
    const std::vector<std::string> lines = LogLines(FLogFile);
    ASSERT_EQ(lines.size(), 8u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[6], "Trying to kill...success") << "the hang's line, dump and close once";
    const TMetricsFigures f = metrics.Figures();
    EXPECT_EQ((std::vector{f.CallStreamHangs, f.HangRestarts, f.DumpSuccesses}),
              (std::vector<std::uint64_t>{1, 1, 1}));
}

struct CloseCase {
    const char* name;
    int window;       // the double's window: 1 closes on WM_CLOSE, 2 ignores it, 3 is disabled
    const char* hang; // the heartbeat that stops, and its line
    const char* hangLine;
    const char* closeLine;  // nullptr: no close step
    std::uint32_t exitCode; // 12345: killed
};

class CloseFirstTest : public MonitorRecoveryTest, public testing::WithParamInterface<CloseCase> {};

TEST_P(CloseFirstTest, OnlyACallStreamHangIsAskedToCloseBeforeTheKill) {
    const CloseCase& c = GetParam();
    InstallDouble({{"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"window", c.window},
                   {std::string("launch.1.") + c.hang + "_stop_ms", 1000}});
    WriteOptions("main_timeout=1\r\ncall_stream_timeout=1\r\nstartup_timeout=5\r\n"
                 "[Recovery]\r\nclose_timeout=5\r\n");
    TChildProcess first = StartFirstDouble();
    StartMonitor();
    ASSERT_TRUE(first.WaitForExit(30000));
    const std::uint64_t ended = GetTickCount64();
    EXPECT_EQ(first.ExitCode(), std::optional<std::uint32_t>(c.exitCode));
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000));
    Sleep(1500); // no second launch follows
    std::vector<std::string> expected = {
        "Log created", "Recovery: hang_dump=0 hang_dump_keep=5 restart_on_exit=0 close_timeout=5",
        c.hangLine};
    if (c.closeLine)
        expected.push_back(c.closeLine);
    if (c.exitCode == 12345)
        expected.push_back("Trying to kill...success");
    expected.push_back("Trying to start...wait 4 sec...success");
    EXPECT_EQ(LogLines(FLogFile), expected);
    // A close that went unanswered reached the window once, and the kill came close_timeout after
    // it, not before.
    std::vector<std::uint64_t> ignored;
    for (const TTraceRecord& r : ReadTamrixTrace(FTamrix))
        if (r.What == "close-ignored")
            ignored.push_back(r.Tick);
    ASSERT_EQ(ignored.size(), c.window == 2 && c.closeLine ? 1u : 0u);
    if (!ignored.empty()) {
        EXPECT_GE(ended - ignored[0], 4900u);
        EXPECT_LE(ended - ignored[0], 8000u);
    }
}

constexpr const char* CallHang = "Call stream thread not responding.";
INSTANTIATE_TEST_SUITE_P(
    Table, CloseFirstTest,
    testing::Values(CloseCase{"Closes", 1, "call", CallHang, "Trying to close...success", 0},
                    CloseCase{"IgnoresTheRequest", 2, "call", CallHang,
                              "Trying to close...failed - timed out", 12345},
                    // A click would do nothing behind the dialog: neither may korvel's request.
                    CloseCase{"BehindADialog", 3, "call", CallHang,
                              "Trying to close...failed - no window", 12345},
                    // Nobody would read the request: straight to the kill.
                    CloseCase{"MainThreadHang", 1, "main", "Main thread not responding.", nullptr,
                              12345}),
    [](const testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

// A Tamrix that signals its shutdown and ends, seen by the supervisor before the main thread has
// taken the shutdown (here the test plays the main thread, and takes its time): a normal end.
TEST_F(MonitorRecoveryTest, EndAfterTheShutdownSignalIsNoCrash) {
    InstallDouble({{"main_interval_ms", 100}, {"call_interval_ms", 100}, {"shutdown_ms", 500}});
    WriteOptions("main_timeout=5\r\n[Recovery]\r\nrestart_on_exit=1\r\n");
    TChildProcess first = StartFirstDouble();
    StartMonitor();
    ASSERT_TRUE(first.WaitForExit(10000));
    // Several passes find Tamrix gone while the shutdown is still set.
    Sleep(500);
    FMonitor->Terminate();
    TKorvelEvents::KorvelEvents()->Shutdown().ResetEvent();
    FMonitor.reset();
    EXPECT_EQ(LogLines(FLogFile),
              (std::vector<std::string>{
                  "Log created", "Recovery: hang_dump=0 hang_dump_keep=5 restart_on_exit=1"}));
}

// The look-up of restart_on_exit follows only Tamrix: a recorded id that names another program
// is never taken for Tamrix, so that program's end is no crash of Tamrix.
TEST_F(MonitorRecoveryTest, ARecordedProgramThatIsNotTamrixIsNeverFollowed) {
    InstallDouble({{"record_pid", 0}, {"main_interval_ms", 100}, {"call_interval_ms", 100}});
    TChildProcess bystander(Quoted(TestBinDirectory() + "\\Bystander.exe") + " 1500");
    TTempDir::WriteFile(FIni, "[Options]\r\nmain_timeout=5\r\n[Recovery]\r\nrestart_on_exit=1\r\n"
                              "[Application]\r\nprocess_id=" +
                                  std::to_string(bystander.ProcessId()) + "\r\n");
    TChildProcess first = StartFirstDouble();
    StartMonitor();
    ASSERT_TRUE(bystander.WaitForExit(10000));
    // Several look-ups and passes after its end.
    Sleep(1500);
    EXPECT_EQ(LogLines(FLogFile),
              (std::vector<std::string>{
                  "Log created", "Recovery: hang_dump=0 hang_dump_keep=5 restart_on_exit=1"}));
}

// The crash back-off over a Tamrix that ran more than a minute before its first crash, in virtual
// time: the count starts from each start, be it korvel's or someone else's, a long run begins it
// again, and each wait lasts its seconds on the supervisor's clock.
TEST_F(MonitorRecoveryTest, BackoffCountsFromEachStartAndBeginsAgainAfterALongRun) {
    InstallDouble({{"main_interval_ms", 0}, {"call_interval_ms", 0}});
    WriteOptions("main_timeout=5\r\ncall_stream_timeout=5\r\nstartup_timeout=5\r\n"
                 "[Recovery]\r\nrestart_on_exit=1\r\n");
    struct Run {
        std::uint32_t ranMs;   // from its start to its crash
        std::uint32_t waitS;   // before the next launch
        bool startedElsewhere; // the next launch comes from someone else during the wait
    };
    const Run runs[] = {{70000, 0, false}, {10000, 0, false}, {10000, 1, false}, {10000, 2, false},
                        {70000, 0, false}, {10000, 0, false}, {10000, 1, true},  {55000, 2, false}};
    std::vector<TLaunchAct> plan;
    for (const Run& run : runs)
        plan.push_back({TTamrixAct::Crash, run.ranMs, run.startedElsewhere ? 300u : 0u});
    TChildProcess first = StartFirstDouble();
    StartVirtualMonitor(plan);
    ASSERT_TRUE(WaitUntil([&] { return LaunchesSeen().size() > std::size(runs); }, 60000))
        << ::testing::PrintToString(LogLines(FLogFile));
    FMonitor.reset();

    std::vector<std::string> expected = {
        "Log created", "Recovery: hang_dump=0 hang_dump_keep=5 restart_on_exit=1"};
    const std::vector<TLaunchSeen> seen = LaunchesSeen();
    for (std::size_t i = 0, restarts = 0; i < std::size(runs); ++i) {
        const Run& run = runs[i];
        expected.push_back("Process ended with exit code 3.");
        if (run.waitS != 0)
            expected.push_back("Waiting " + std::to_string(run.waitS) +
                               " sec before the next start.");
        // From the crash to the pass that sees the next launch: the wait and two passes.
        const std::uint32_t gap = seen.at(i + 1).Seen - seen[i].Crashed;
        if (run.startedElsewhere) {
            expected.push_back("Process detected.");
            EXPECT_LT(gap, run.waitS * 1000) << "launch " << i + 1;
            continue;
        }
        // Each restart begins a second below the last, not below 1.
        expected.push_back("Trying to start...wait " +
                           std::to_string(restarts < 4 ? 4 - restarts : 1) + " sec...success");
        ++restarts;
        EXPECT_GE(gap, run.waitS * 1000) << "launch " << i + 1;
        EXPECT_LE(gap, run.waitS * 1000 + 300) << "launch " << i + 1;
    }
    EXPECT_EQ(LogLines(FLogFile), expected);
}

// From the end of a crashed Tamrix to "Trying to start...": one pass and a little. Each crash is
// the first quick end of a fresh supervisor, which is restarted at once.
TEST_F(MonitorRecoveryTest, PerformanceCrashToRelaunch) {
    constexpr int Crashes = 11;
    // Each launch ends at another point of the supervisor's 100 ms pass, so that the figures
    // cover the whole pass and not one phase of it.
    InstallDouble({});
    std::vector<TScriptEntry> script = {
        {"main_interval_ms", 100}, {"call_interval_ms", 100}, {"exit_code", 3}};
    for (int launch = 1; launch <= 2 * Crashes; launch += 2)
        script.emplace_back("launch." + std::to_string(launch) + ".exit_ms",
                            300 + launch * 37 % 100);
    WriteTamrixScript(FTamrix, script);
    WriteOptions("main_timeout=5\r\nstartup_timeout=5\r\n[Recovery]\r\nrestart_on_exit=1\r\n");
    std::vector<long long> latencies;
    for (int crash = 1; crash <= Crashes; ++crash) {
        const int launch = 2 * crash - 1;
        TChildProcess first(Quoted(FTamrix), FApp);
        ASSERT_TRUE(WaitForTamrixTrace(
            FTamrix,
            [&](const TTraceRecord& r) { return r.Launch == launch && r.What == "startup-set"; },
            10000));
        StartMonitor();
        const auto count = [&](const char* piece) {
            const std::string text = ReadSharedFile(FLogFile).value_or("");
            std::size_t found = 0;
            for (std::size_t at = 0; (at = text.find(piece, at)) != std::string::npos; ++at)
                ++found;
            return found;
        };
        ASSERT_TRUE(
            WaitUntil([&] { return count("Trying to start...") == std::size_t(crash); }, 30000, 2));
        const std::uint64_t now = GetTickCount64();
        for (const TTraceRecord& r : ReadTamrixTrace(FTamrix))
            if (r.Launch == launch && r.What == "exit")
                latencies.push_back(static_cast<long long>(now - r.Tick));
        ASSERT_TRUE(WaitUntil([&] { return count("success") == std::size_t(crash); }, 30000));
        // The relaunched instance goes too: the next crash is the first of a fresh supervisor.
        FMonitor.reset();
        KillDoubles(FTamrix);
    }
    ASSERT_EQ(latencies.size(), static_cast<std::size_t>(Crashes));
    std::sort(latencies.begin(), latencies.end());
    std::cout << "[ perf     ] Tamrix end -> \"Trying to start...\", ms over " << Crashes
              << " crashes: min " << latencies.front() << ", median " << latencies[Crashes / 2]
              << ", max " << latencies.back() << "\n";
    RecordProperty("crash_to_relaunch_median_ms", std::to_string(latencies[Crashes / 2]));
    EXPECT_LE(latencies[Crashes / 2], 200);
}

} // namespace
