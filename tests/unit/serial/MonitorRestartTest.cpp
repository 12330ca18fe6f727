// The supervisor with real processes: the Tamrix double hangs, is killed and relaunched; the
// start-up timeout adjusts itself; the kill and the launch fail in their various ways.
#include "Deadline.h"
#include "Errors.h"
#include "EventLogText.h"
#include "Metrics.h"
#include "FKorvelEvents.h"
#include "Handle.h"
#include "MonitorBed.h"
#include "Processes.h"
#include "ScopeExit.h"
#include "SharedFile.h"
#include "TamrixScript.h"
#include "TempDir.h"
#include "WatchdogEvents.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::chrono_literals;

class MonitorRestartTest : public TMonitorBed {
protected:
    // Launches 1 and 2 hang after 1.5 s; the third one stays healthy. The first runs, watched.
    TChildProcess SuperviseTwoHangs() {
        InstallDouble({{"main_interval_ms", 100},
                       {"call_interval_ms", 100},
                       {"main_stop_ms", 1500},
                       {"launch.3.main_stop_ms", -1}});
        WriteOptions("main_timeout=1\r\nstartup_timeout=5\r\n");
        TChildProcess first = StartFirstDouble();
        StartMonitor();
        return first;
    }
};

TEST_F(MonitorRestartTest, HangIsDetectedKilledRelaunchedAndSupervisedAgain) {
    TChildProcess first = SuperviseTwoHangs();

    ASSERT_TRUE(first.WaitForExit(20000));
    const auto killedAt = GetTickCount64();
    EXPECT_EQ(first.ExitCode(), std::optional<std::uint32_t>(12345));
    std::uint64_t lastPulse = 0;
    for (const TTraceRecord& r : ReadTamrixTrace(FTamrix))
        if (r.Launch == 1 && r.What == "main-pulse")
            lastPulse = r.Tick;
    ASSERT_NE(lastPulse, 0u);
    // Never before the window of 1 100 ms has passed since the pulse; within about one pass after.
    EXPECT_GE(killedAt - lastPulse, 1100u);
    EXPECT_LE(killedAt - lastPulse, 1100u + 1000u);

    // The successor starts only after the killed instance has gone, and the pause after it.
    ASSERT_TRUE(WaitForTamrixTrace(
        FTamrix, [](const TTraceRecord& r) { return r.Launch == 2 && r.What == "started"; },
        20000));
    for (const TTraceRecord& r : ReadTamrixTrace(FTamrix)) {
        if (r.Launch == 2 && r.What == "started") {
            EXPECT_GE(r.Tick, killedAt + 900);
        }
    }

    // The second hang proves that supervision resumed on the relaunched instance.
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 3 sec...success", 40000));
    EXPECT_TRUE(SettingBecomes("startup_timeout", "3")) << Setting("startup_timeout");
    const std::vector<std::string> expected = {
        "Log created",
        "Main thread not responding.",
        "Trying to kill...success",
        "Trying to start...wait 4 sec...success",
        "Main thread not responding.",
        "Trying to kill...success",
        "Trying to start...wait 3 sec...success",
    };
    EXPECT_EQ(LogLines(FLogFile), expected);
    EXPECT_FALSE(ShutdownSet());

    // The third instance pulses on and is left alone.
    Sleep(2500);
    EXPECT_EQ(LogLines(FLogFile).size(), expected.size());
    const auto trace = ReadTamrixTrace(FTamrix);
    EXPECT_EQ(CountTrace(trace, "started"), 3u);
    const auto before = std::chrono::steady_clock::now();
    FMonitor.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

TEST_F(MonitorRestartTest, StartupTimeoutGrowsUntilTheStartComes) {
    // The first relaunch never signals its start; the one after it does.
    InstallDouble({{"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"main_stop_ms", 1000},
                   {"launch.2.start", 0},
                   {"launch.3.main_stop_ms", -1}});
    WriteOptions("main_timeout=1\r\nstartup_timeout=3\r\n");
    TChildProcess first = StartFirstDouble();
    StartMonitor();

    ASSERT_TRUE(
        WaitForLogLine(FLogFile, "Trying to start...wait 2 sec...wait 3 sec...success", 40000))
        << ::testing::PrintToString(LogLines(FLogFile));
    EXPECT_TRUE(SettingBecomes("startup_timeout", "3")) << Setting("startup_timeout");
    EXPECT_EQ(CountTrace(ReadTamrixTrace(FTamrix), "started"), 3u);
    EXPECT_FALSE(ShutdownSet());
}

TEST_F(MonitorRestartTest, GivesUpAtTwentySecondsAndSignalsTheShutdown) {
    InstallDouble({{"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"main_stop_ms", 500},
                   {"launch.2.start", 0}});
    WriteOptions("main_timeout=1\r\nstartup_timeout=20\r\n");
    TChildProcess first = StartFirstDouble();
    StartMonitor();

    ASSERT_EQ(TKorvelEvents::KorvelEvents()->Shutdown().WaitFor(40000), WaitResult::Signaled);
    const std::vector<std::string> expected = {
        "Log created",
        "Main thread not responding.",
        "Trying to kill...success",
        "Trying to start...wait 19 sec...failed",
        "Restart failed. Please run the application manually.",
    };
    EXPECT_EQ(LogLines(FLogFile), expected);
    EXPECT_EQ(Setting("startup_timeout"), "20");
    // One launch only: one 19 s wait, then the give-up, which leaves no instance behind.
    EXPECT_EQ(CountTrace(ReadTamrixTrace(FTamrix), "started"), 2u);
    EXPECT_EQ(CountAlive(ReadTamrixTrace(FTamrix)), 0u);
}

TEST_F(MonitorRestartTest, AnUnansweredLaunchIsEndedBeforeTheNext) {
    // Every relaunch needs 2.5 s to start; the learnt wait begins at 1 s.
    InstallDouble({{"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"start_delay_ms", 2500},
                   {"launch.1.start_delay_ms", 0},
                   {"launch.1.main_stop_ms", 1500}});
    WriteOptions("main_timeout=1\r\nstartup_timeout=2\r\n");
    TChildProcess first = StartFirstDouble();
    StartMonitor();

    ASSERT_TRUE(WaitForLogLine(
        FLogFile, "Trying to start...wait 1 sec...wait 2 sec...wait 3 sec...success", 40000))
        << ::testing::PrintToString(LogLines(FLogFile));
    const auto trace = ReadTamrixTrace(FTamrix);
    EXPECT_EQ(CountTrace(trace, "started"), 4u);
    EXPECT_EQ(CountAlive(trace), 1u);
    EXPECT_EQ(CountTrace(trace, "startup-set", 4), 1u);
    EXPECT_TRUE(SettingBecomes("startup_timeout", "3")) << Setting("startup_timeout");
}

// Each launch of a restart stamps the poll time, as each poll pass does: the fleet's alert on a
// supervisor that no longer polls must not take minutes of start-up waits for one. Waits of 1 to
// 5 s, the fifth answered after 4.5 s: 15 s in all, the longest step 4.5 s and its launch.
TEST_F(MonitorRestartTest, ALongRestartKeepsThePollStampMoving) {
    InstallDouble({{"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"start_delay_ms", 4500},
                   {"launch.1.start_delay_ms", 0},
                   {"launch.1.main_stop_ms", 1500}});
    WriteOptions("main_timeout=1\r\nstartup_timeout=2\r\n");
    TChildProcess first = StartFirstDouble();
    TMetrics metrics(FLog, FDir.Path());
    const TScopeExit stop([&] { FMonitor.reset(); });
    FMonitor = std::make_unique<TMonitor>(FLog, FIni, SystemClock(), metrics);
    std::time_t longest = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            // None yet at the first look, when the supervisor's body may not have begun.
            if (const auto poll = static_cast<std::time_t>(metrics.Figures().LastPoll); poll != 0)
                longest = std::max(longest, std::time(nullptr) - poll);
            return WaitForLogLine(FLogFile,
                                  "Trying to start...wait 1 sec...wait 2 sec...wait 3 sec...wait "
                                  "4 sec...wait 5 sec...success",
                                  0);
        },
        60000));
    EXPECT_LE(longest, 9);
    // The passes over the new instance stamp on.
    const std::time_t restarted = std::time(nullptr);
    EXPECT_TRUE(WaitUntil(
        [&] { return static_cast<std::time_t>(metrics.Figures().LastPoll) > restarted; }, 5000));
}

TEST_F(MonitorRestartTest, RefusedWriteBackIsLoggedOnceAndSupervisionGoesOn) {
    TChildProcess first = SuperviseTwoHangs();
    // From now on the file can be read but not written, as a file another program locks.
    THandle holder(CreateFileA(FIni.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    const std::string fatal = "Fatal error: EIniFileException: Unable to write to " + FIni;
    ASSERT_TRUE(WaitForLogLine(FLogFile, fatal, 30000))
        << ::testing::PrintToString(LogLines(FLogFile));
    holder.Reset();
    // The relaunched double could not record its id while the file was held: record it for it.
    std::uint32_t second = 0;
    ASSERT_TRUE(WaitForTamrixTrace(
        FTamrix,
        [&](const TTraceRecord& r) {
            second = r.Pid;
            return r.Launch == 2 && r.What == "started";
        },
        10000));
    ASSERT_TRUE(WritePrivateProfileStringA("Application", "process_id",
                                           std::to_string(second).c_str(), FIni.c_str()));

    // Its own hang is found and it is restarted in turn.
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 3 sec...success", 30000))
        << ::testing::PrintToString(LogLines(FLogFile));
    const std::vector<std::string> expected = {
        "Log created",
        "Main thread not responding.",
        "Trying to kill...success",
        "Trying to start...wait 4 sec...success",
        fatal,
        "Main thread not responding.",
        "Trying to kill...success",
        "Trying to start...wait 3 sec...success",
    };
    EXPECT_EQ(LogLines(FLogFile), expected);
    EXPECT_TRUE(SettingBecomes("startup_timeout", "3")) << Setting("startup_timeout");
    EXPECT_FALSE(ShutdownSet());
}

struct KillFailureCase {
    const char* name;
    const char* application; // the [Application] section, or nullptr
    bool exitedProcess;      // process_id names a process that has ended
};

class KillFailureTest : public MonitorRestartTest,
                        public testing::WithParamInterface<KillFailureCase> {};

TEST_P(KillFailureTest, LineEndsWithTheSystemTextAndTheStartStillRuns) {
    std::string options = "main_timeout=1\r\n";
    std::string expectedKill = "Trying to kill...failed - ";
    if (GetParam().exitedProcess) {
        TChildProcess gone(Quoted(TestBinDirectory() + "\\Bystander.exe") + " 0");
        ASSERT_TRUE(gone.WaitForExit(10000));
        const std::uint32_t pid = gone.ProcessId();
        // No process has that id any more: opening it is refused as an invalid parameter.
        expectedKill += SysErrorMessage(ERROR_INVALID_PARAMETER);
        TTempDir::WriteFile(FIni, "[Options]\r\n" + options + "[Application]\r\nprocess_id=" +
                                      std::to_string(pid) + "\r\n");
    } else {
        std::string ini = "[Options]\r\n" + options;
        if (GetParam().application != nullptr)
            ini += std::string("[Application]\r\n") + GetParam().application;
        TTempDir::WriteFile(FIni, ini);
    }
    // No Tamrix.exe: the launch fails too, with the OS error's message (it holds a line break).
    StartMonitor();
    ASSERT_EQ(TKorvelEvents::KorvelEvents()->Shutdown().WaitFor(20000), WaitResult::Signaled);
    FMonitor.reset();

    const std::vector<std::string> lines = LogLines(FLogFile);
    ASSERT_GE(lines.size(), 5u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[1], "Main thread not responding.");
    EXPECT_EQ(lines[2].rfind("Trying to kill...failed - ", 0), 0u) << lines[2];
    if (GetParam().exitedProcess) {
        EXPECT_EQ(lines[2], expectedKill);
    }
    const std::string text = TTempDir::ReadFile(FLogFile);
    EXPECT_NE(
        text.find("Trying to start...failed - " + OSErrorMessage(ERROR_FILE_NOT_FOUND) + "\r\n"),
        std::string::npos)
        << text;
    EXPECT_EQ(lines.back(), "Restart failed. Please run the application manually.");
    EXPECT_EQ(Setting("startup_timeout"), "19");
}

INSTANTIATE_TEST_SUITE_P(Table, KillFailureTest,
                         testing::Values(KillFailureCase{"NoProcessId", nullptr, false},
                                         KillFailureCase{"ZeroProcessId", "process_id=0\r\n",
                                                         false},
                                         KillFailureCase{"NotANumber", "process_id=abc\r\n", false},
                                         KillFailureCase{"EndedProcess", nullptr, true}),
                         [](const testing::TestParamInfo<KillFailureCase>& info) {
                             return std::string(info.param.name);
                         });

// A recorded id may name any process once Tamrix has gone: only a process whose image has
// Tamrix's file name, in any letter case and from any folder, is terminated.
struct RecordedProcessCase {
    const char* name;
    const char* program; // copied into a folder of its own under this name and started
    bool isDouble;       // the Tamrix double (else the harmless Bystander)
    bool killed;
};

class RecordedProcessTest : public MonitorRestartTest,
                            public testing::WithParamInterface<RecordedProcessCase> {};

TEST_P(RecordedProcessTest, OnlyTamrixIsTerminated) {
    const RecordedProcessCase& c = GetParam();
    // The relaunch finds a healthy double.
    InstallDouble({{"main_interval_ms", 100}, {"call_interval_ms", 100}});
    const std::string elsewhere = FDir.File("elsewhere");
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    const std::string program = elsewhere + "\\" + c.program;
    ASSERT_TRUE(CopyFileA(
        (TestBinDirectory() + (c.isDouble ? "\\TamrixDouble.exe" : "\\Bystander.exe")).c_str(),
        program.c_str(), FALSE));
    if (c.isDouble)
        WriteTamrixScript(
            program,
            {{"record_pid", 0}, {"start", 0}, {"main_interval_ms", 0}, {"call_interval_ms", 0}});
    TChildProcess recorded(Quoted(program) + (c.isDouble ? "" : " 60000"), elsewhere);
    // No heartbeat at all: the supervisor restarts after its 1 100 ms window.
    TTempDir::WriteFile(FIni, "[Options]\r\nmain_timeout=1\r\nstartup_timeout=5\r\n"
                              "[Application]\r\nprocess_id=" +
                                  std::to_string(recorded.ProcessId()) + "\r\n");
    StartMonitor();

    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000))
        << ::testing::PrintToString(LogLines(FLogFile));
    const std::vector<std::string> lines = LogLines(FLogFile);
    ASSERT_GE(lines.size(), 3u);
    if (c.killed) {
        EXPECT_EQ(lines[2], "Trying to kill...success");
        ASSERT_TRUE(recorded.WaitForExit(5000));
        EXPECT_EQ(recorded.ExitCode(), std::optional<std::uint32_t>(12345));
    } else {
        EXPECT_EQ(lines[2], "Trying to kill...failed - process " +
                                std::to_string(recorded.ProcessId()) + " is " + c.program +
                                ", not Tamrix.exe");
        EXPECT_TRUE(recorded.IsRunning());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RecordedProcessTest,
    testing::Values(RecordedProcessCase{"AnotherProgram", "Bystander.exe", false, false},
                    RecordedProcessCase{"ANameLikeTamrix", "Tamrix2.exe", false, false},
                    RecordedProcessCase{"TamrixElsewhere", "Tamrix.exe", true, true},
                    RecordedProcessCase{"TamrixInOtherCase", "tAMRIX.EXE", true, true}),
    [](const testing::TestParamInfo<RecordedProcessCase>& info) {
        return std::string(info.param.name);
    });

// korvel ending during a restart's start-up wait is an orderly end, never a restart given up.
TEST_F(MonitorRestartTest, StopDuringTheStartupWaitIsNoRestartFailure) {
    InstallDouble({{"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"main_stop_ms", 1500},
                   {"launch.2.start", 0}});
    WriteOptions("main_timeout=1\r\nstartup_timeout=3\r\n");
    TChildProcess first = StartFirstDouble();
    std::vector<std::string> events;
    FLog.SetLineObserver([&](std::string_view line) {
        if (EventLogEntryFor(line))
            events.emplace_back(line);
    });
    {
        TMetrics metrics(FLog, FDir.Path());
        FMonitor = std::make_unique<TMonitor>(FLog, FIni, SystemClock(), metrics);
        ASSERT_TRUE(WaitUntil(
            [&] {
                return ReadSharedFile(FLogFile).value_or("").find("...wait ") != std::string::npos;
            },
            30000));
        FMonitor.reset();
    }
    // A shutdown set by the stopped supervisor would end the next one's supervision at once.
    EXPECT_FALSE(ShutdownSet());
    // The line stays, as no event: nothing failed.
    EXPECT_EQ(LogLines(FLogFile).back(), "Restart failed. Please run the application manually.");
    FLog.SetLineObserver(nullptr);
    EXPECT_EQ(events, std::vector<std::string>{"Main thread not responding."});
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    const std::string id = std::to_string(session);
    const std::string figures = TTempDir::ReadFile(FDir.File("korvel-" + id + ".prom"));
    EXPECT_NE(figures.find("korvel_restart_failures_total{session=\"" + id + "\"} 0\n"),
              std::string::npos)
        << figures;
}

TEST_F(MonitorRestartTest, DestroyingWhileItSleepsReturnsWithinAPass) {
    WriteOptions("");
    StartMonitor();
    Sleep(350);
    const auto before = std::chrono::steady_clock::now();
    FMonitor.reset();
    const auto took = std::chrono::steady_clock::now() - before;
    // One sleep of 100 ms and a few zero-timeout waits at most; generous for a loaded machine.
    EXPECT_LT(took, 400ms);
    EXPECT_EQ(LogLines(FLogFile).size(), 0u);
}

} // namespace
