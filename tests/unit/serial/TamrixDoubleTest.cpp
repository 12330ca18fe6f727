// The Tamrix double follows its script: the end-to-end tests of the watchdog trust it to signal,
// pulse, hang, crash and record its pid exactly when told.
#include "FKorvelEvents.h"
#include "support/Processes.h"
#include "support/TamrixScript.h"
#include "support/TempDir.h"
#include "WinApi.h"

#include "WatchdogEvents.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Whats(const std::vector<TTraceRecord>& trace) {
    std::string whats;
    for (const TTraceRecord& record : trace)
        whats += (whats.empty() ? "" : " ") + record.What;
    return whats;
}

// An application folder with the double installed as Tamrix.exe and the watchdog's subfolder.
// The fixture holds the event set, so the events keep what the double did after it has ended.
class TamrixDoubleTest : public TWatchdogEventsTest {
protected:
    void SetUp() override {
        TWatchdogEventsTest::SetUp();
        ASSERT_TRUE(
            CopyFileA((TestBinDirectory() + "\\TamrixDouble.exe").c_str(), FExe.c_str(), FALSE));
        ASSERT_TRUE(CreateDirectoryA(FApp.File("korvel").c_str(), nullptr));
    }

    // Runs the double to its end; gives its exit code.
    std::uint32_t Run(std::uint32_t* pid = nullptr) {
        TChildProcess child(Quoted(FExe), FApp.Path());
        if (pid != nullptr)
            *pid = child.ProcessId();
        EXPECT_TRUE(child.WaitForExit(30000)) << "the double did not end";
        return child.ExitCode().value_or(0xFFFFFFFF);
    }

    TTempDir FApp;
    const std::string FExe = FApp.File("Tamrix.exe");
};

TEST_F(TamrixDoubleTest, SignalsPulsesHangsAndShutsDownOnSchedule) {
    WriteTamrixScript(FExe, {{"start_delay_ms", 300},
                             {"main_interval_ms", 100},
                             {"call_interval_ms", 100},
                             {"busy_at_ms", 500},
                             {"main_stop_ms", 700},
                             {"shutdown_ms", 1200}});
    std::uint32_t pid = 0;
    EXPECT_EQ(Run(&pid), 0u);

    const std::vector<TTraceRecord> trace = ReadTamrixTrace(FExe);
    ASSERT_GE(trace.size(), 4u) << Whats(trace);
    for (const TTraceRecord& record : trace) {
        EXPECT_EQ(record.Launch, 1);
        EXPECT_EQ(record.Pid, pid);
    }
    EXPECT_EQ(trace[0].What, "started");
    EXPECT_EQ(trace[1].What, "pid-recorded");
    EXPECT_EQ(trace[2].What, "startup-set");
    EXPECT_EQ(trace[trace.size() - 2].What, "shutdown");
    EXPECT_EQ(trace.back().What, "exit");
    // Ticks of the same clock the double read: its start waited, the rest followed in order.
    EXPECT_GE(trace[2].Tick - trace[0].Tick, 300u) << "the start came too early";
    EXPECT_GE(trace[trace.size() - 2].Tick - trace[0].Tick, 1200u) << "the shutdown came too early";
    for (std::size_t i = 1; i < trace.size(); ++i)
        EXPECT_LE(trace[i - 1].Tick, trace[i].Tick);

    std::size_t stopped = 0, busy = 0;
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].What == "main-stopped")
            stopped = i;
        if (trace[i].What == "busy")
            busy = i;
    }
    ASSERT_NE(stopped, 0u) << Whats(trace);
    ASSERT_NE(busy, 0u) << Whats(trace);
    EXPECT_LT(busy, stopped);
    EXPECT_GE(trace[busy].Tick - trace[0].Tick, 500u);
    EXPECT_GE(trace[stopped].Tick - trace[0].Tick, 700u);
    // Main pulses from the start to the stop only; call pulses all along.
    for (std::size_t i = stopped; i < trace.size(); ++i)
        EXPECT_NE(trace[i].What, "main-pulse") << Whats(trace);
    EXPECT_GE(CountTrace(trace, "main-pulse"), 2u);
    EXPECT_GE(CountTrace(trace, "call-pulse"), 5u);

    // It talked through the watchdog's events: its shutdown reset the start.
    EXPECT_EQ(WatchdogStates(), "11011");
    char recorded[32] = {};
    GetPrivateProfileStringA("Application", "process_id", "", recorded, sizeof recorded,
                             FApp.File("korvel\\korvel.ini").c_str());
    EXPECT_EQ(std::string(recorded), std::to_string(pid));
}

TEST_F(TamrixDoubleTest, CountsItsLaunchesAndTakesTheOverridesOfEach) {
    WriteTamrixScript(FExe, {{"launch.2.exit_code", 9},
                             {"record_pid", 0},
                             {"start", 0},
                             {"main_interval_ms", 0},
                             {"call_interval_ms", 0},
                             {"exit_ms", 50},
                             {"exit_code", 7},
                             {"launch.3.exit_ms", -1},
                             {"launch.3.lifetime_ms", 100}});
    EXPECT_EQ(Run(), 7u);
    EXPECT_EQ(Run(), 9u);
    EXPECT_EQ(Run(), 0u);
    const std::vector<TTraceRecord> trace = ReadTamrixTrace(FExe);
    EXPECT_EQ(Whats(trace), "started exit started exit started exit");
    ASSERT_EQ(trace.size(), 6u);
    EXPECT_EQ(trace[1].Launch, 1);
    EXPECT_EQ(trace[3].Launch, 2);
    EXPECT_EQ(trace[5].Launch, 3);
    EXPECT_EQ(TTempDir::ReadFile(TamrixCountPath(FExe)), "3");
    EXPECT_EQ(WatchdogStates(), "00000");
    EXPECT_FALSE(TTempDir::FileExists(FApp.File("korvel\\korvel.ini")));
}

// No script at all: a well-behaved Tamrix that runs until it is killed, as the watchdog does.
TEST_F(TamrixDoubleTest, WithoutAScriptStartsAndPulsesUntilKilled) {
    TChildProcess child(Quoted(FExe), FApp.Path());
    std::vector<TTraceRecord> trace;
    EXPECT_TRUE(WaitForTamrixTrace(
        FExe, [](const TTraceRecord& record) { return record.What == "call-pulse"; }, 20000,
        &trace));
    EXPECT_TRUE(WaitForTamrixTrace(
        FExe,
        [&](const TTraceRecord& record) {
            return record.What == "main-pulse" && record.Tick >= trace.front().Tick + 400;
        },
        20000, &trace));
    child.Kill();
    EXPECT_EQ(Whats(trace).substr(0, 36), "started pid-recorded startup-set mai");
    EXPECT_EQ(WatchdogStates().substr(1, 3), "010");
    char recorded[32] = {};
    GetPrivateProfileStringA("Application", "process_id", "", recorded, sizeof recorded,
                             FApp.File("korvel\\korvel.ini").c_str());
    EXPECT_EQ(std::string(recorded), std::to_string(child.ProcessId()));
}

TEST(TamrixTraceTest, ParsingLeavesOutALineBeingWrittenAndLinesOfAnotherShape) {
    const std::vector<TTraceRecord> trace = ParseTamrixTrace(
        "100 1 42 started\r\nnot a record\r\n180 2 43 main-pulse\n1 2 3 four five\r\n200 2 4");
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].Tick, 100u);
    EXPECT_EQ(trace[0].Launch, 1);
    EXPECT_EQ(trace[0].Pid, 42u);
    EXPECT_EQ(trace[0].What, "started");
    EXPECT_EQ(trace[1].What, "main-pulse");
    EXPECT_EQ(CountTrace(trace, "main-pulse", 2), 1u);
    EXPECT_EQ(CountTrace(trace, "main-pulse", 1), 0u);
}

struct TEndCase {
    const char* Name;
    std::vector<TScriptEntry> Script;
    std::uint32_t ExitCode;
    const char* States;
    const char* Trace;
};

class TamrixDoubleEndTest : public TamrixDoubleTest,
                            public testing::WithParamInterface<TEndCase> {};

TEST_P(TamrixDoubleEndTest, EndsAsScripted) {
    std::vector<TScriptEntry> script = {
        {"record_pid", 0}, {"main_interval_ms", 0}, {"call_interval_ms", 0}};
    script.insert(script.end(), GetParam().Script.begin(), GetParam().Script.end());
    WriteTamrixScript(FExe, script);
    EXPECT_EQ(Run(), GetParam().ExitCode);
    EXPECT_EQ(WatchdogStates(), GetParam().States);
    EXPECT_EQ(Whats(ReadTamrixTrace(FExe)), GetParam().Trace);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TamrixDoubleEndTest,
    testing::Values(
        TEndCase{
            "Shutdown", {{"shutdown_ms", 100}}, 0, "00010", "started startup-set shutdown exit"},
        TEndCase{"ShutdownKeepingTheStart",
                 {{"shutdown_ms", 100}, {"keep_startup", 1}},
                 0,
                 "00110",
                 "started startup-set shutdown exit"},
        TEndCase{
            "Crash", {{"exit_ms", 100}, {"exit_code", 5}}, 5, "00100", "started startup-set exit"},
        TEndCase{"NeverStartsButAnnouncesBusy",
                 {{"start", 0}, {"busy_at_ms", 50}, {"exit_ms", 100}},
                 0,
                 "01000",
                 "started busy exit"},
        TEndCase{"Lifetime", {{"lifetime_ms", 100}}, 0, "00100", "started startup-set exit"},
        TEndCase{"CommentsAndBlanks",
                 {{" exit_ms ", "100 # crash soon"}, {"# exit_code", 4}, {"start_delay_ms", -1}},
                 0,
                 "00000",
                 "started exit"}),
    [](const testing::TestParamInfo<TEndCase>& info) { return std::string(info.param.Name); });

} // namespace
