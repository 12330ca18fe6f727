// hang_stack with real processes: where the hung double is stuck, in the log right after the hang's
// line, in the hang's event and in the metrics; the restart after it; and the double's threads
// running again once they were walked.
#include "Deadline.h"
#include "Metrics.h"
#include "Minidump.h"
#include "MonitorBed.h"
#include "StackWalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

namespace {

std::vector<std::string> Frames(const std::string& line) {
    std::vector<std::string> frames;
    const std::regex separator(" < ");
    std::sregex_token_iterator part(line.begin(), line.end(), separator, -1);
    for (; part != std::sregex_token_iterator(); ++part)
        frames.push_back(*part);
    return frames;
}

std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        }));
}

class MonitorHangSiteTest : public TMonitorBed {
protected:
    void TearDown() override {
        FMonitor.reset();
        FMetrics.reset();
        TMonitorBed::TearDown();
    }

    // The clang-built double as Tamrix.exe, with its PDB beside it when pdb.
    void InstallHangDouble(bool pdb, std::initializer_list<TScriptEntry> script) {
        const std::string built = TestBinDirectory() + "\\hangdouble\\";
        ASSERT_TRUE(CopyFileA((built + "Tamrix.exe").c_str(), FTamrix.c_str(), FALSE));
        if (pdb) {
            ASSERT_TRUE(
                CopyFileA((built + "Tamrix.pdb").c_str(), (FApp + "\\Tamrix.pdb").c_str(), FALSE));
        }
        WriteTamrixScript(FTamrix, script);
    }
    // The tick at which the first double entered its hang.
    std::uint64_t WaitForHang(const char* what) {
        std::uint64_t tick = 0;
        EXPECT_TRUE(WaitForTamrixTrace(
            FTamrix,
            [&](const TTraceRecord& r) {
                tick = r.Tick;
                return r.What == what;
            },
            10000));
        return tick;
    }
    // The supervisor with metrics of its own, every text the event log would get noted with the
    // tick it came at.
    void StartObservedMonitor() {
        const std::string folder = FDir.File("metrics");
        CreateDirectoryA(folder.c_str(), nullptr);
        FMetrics = std::make_unique<TMetrics>(FLog, folder);
        FLog.SetLineObserver([this](std::string_view text) {
            const std::lock_guard lock(FObservedLock);
            FObserved.emplace_back(GetTickCount64(), std::string(text));
        });
        FMonitor = std::make_unique<TMonitor>(FLog, FIni, SystemClock(), *FMetrics, FSession);
    }
    std::optional<std::uint64_t> ObservedAt(const std::string& text) {
        const std::lock_guard lock(FObservedLock);
        for (const auto& [tick, observed] : FObserved)
            if (observed == text)
                return tick;
        return std::nullopt;
    }

    std::unique_ptr<TMetrics> FMetrics;
    std::mutex FObservedLock;
    std::vector<std::pair<std::uint64_t, std::string>> FObserved;
};

struct PdbCase {
    const char* name;
    bool pdb;
};

class MainThreadHangSiteTest : public MonitorHangSiteTest,
                               public testing::WithParamInterface<PdbCase> {};

// The main thread waits inside a function that the module does not export: the PDB beside Tamrix
// names it; without one the line still comes, with the module and the offset. No PDB and no
// export ever lends the name of another function.
TEST_P(MainThreadHangSiteTest, NamesWhereTheMainThreadWaitsThenTheRestartFollows) {
    const bool pdb = GetParam().pdb;
    InstallHangDouble(pdb, {{"hang_main_ms", 800}, {"launch.2.hang_main_ms", -1}});
    WriteOptions("main_timeout=1\r\nstartup_timeout=5\r\n[Recovery]\r\nhang_stack=1\r\n");
    TChildProcess first = StartFirstDouble();
    const std::uint64_t hung = WaitForHang("hanging-main");
    StartObservedMonitor();
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000))
        << ::testing::PrintToString(LogLines(FLogFile));

    const std::vector<std::string> lines = LogLines(FLogFile);
    ASSERT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[1], "Recovery: hang_dump=0 hang_dump_keep=5 restart_on_exit=0 hang_stack=1");
    EXPECT_EQ(lines[2], "Main thread not responding.");
    EXPECT_EQ(lines[4], "Trying to kill...success");
    const std::string& site = lines[3];
    ASSERT_EQ(site.rfind("Hang site: ", 0), 0u) << site;
    const std::vector<std::string> frames = Frames(site.substr(11));
    EXPECT_LE(frames.size(), MainThreadFrames) << site;
    const auto own = std::find_if(frames.begin(), frames.end(), [](const std::string& frame) {
        return frame.rfind("Tamrix", 0) == 0;
    });
    ASSERT_NE(own, frames.end()) << site;
    ASSERT_NE(own + 1, frames.end()) << site;
    std::string label;
    if (pdb) {
        EXPECT_TRUE(std::regex_match(*own, std::regex(R"(Tamrix!HangOnMainThread\+0x[0-9a-f]+)")))
            << site;
        EXPECT_TRUE(std::regex_match(own[1], std::regex(R"(Tamrix!WinMain\+0x[0-9a-f]+)"))) << site;
        label = "Tamrix!HangOnMainThread";
    } else {
        EXPECT_TRUE(std::regex_match(*own, std::regex(R"(Tamrix\+0x[0-9a-f]+)"))) << site;
        EXPECT_TRUE(std::regex_match(own[1], std::regex(R"(Tamrix\+0x[0-9a-f]+)"))) << site;
        label = *own;
    }
    EXPECT_EQ(FMetrics->Figures().HangSites, (std::vector<THangSiteCount>{{label, 1}}));
    // The hang's event waited for the site and carries it; it never came alone.
    EXPECT_TRUE(ObservedAt("Main thread not responding.\r\n" + site)) << site;
    EXPECT_FALSE(ObservedAt("Main thread not responding."));
    // Overdue 1.1 s after the last pulse, then at most 2 s for the walk: the kill follows well
    // within 4.5 s of the hang, however loaded the machine.
    const std::optional<std::uint64_t> killed = ObservedAt("Trying to kill...success");
    ASSERT_TRUE(killed);
    EXPECT_LT(*killed - hung, 4500u);
}

INSTANTIATE_TEST_SUITE_P(Table, MainThreadHangSiteTest,
                         testing::Values(PdbCase{"WithPdb", true}, PdbCase{"WithoutPdb", false}),
                         [](const auto& info) { return std::string(info.param.name); });

class CallStreamHangSiteTest : public MonitorHangSiteTest,
                               public testing::WithParamInterface<PdbCase> {};

// One line per thread, each with its id, the main thread first; the exported function is named
// from the exports when there is no PDB, the call stream's own function only by the PDB.
TEST_P(CallStreamHangSiteTest, OneLinePerThread) {
    const bool pdb = GetParam().pdb;
    InstallHangDouble(pdb, {{"hang_call_ms", 800}, {"workers", 2}, {"launch.2.hang_call_ms", -1}});
    WriteOptions("call_stream_timeout=1\r\nstartup_timeout=5\r\n[Recovery]\r\nhang_stack=1\r\n");
    TChildProcess first = StartFirstDouble();
    WaitForHang("hanging-call");
    const std::vector<std::uint32_t> threads = ThreadsOf(first.ProcessId());
    StartObservedMonitor();
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000))
        << ::testing::PrintToString(LogLines(FLogFile));

    const std::vector<std::string> lines = LogLines(FLogFile);
    ASSERT_EQ(lines.size(), 5 + threads.size()) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[2], "Call stream thread not responding.");
    EXPECT_EQ(lines[3 + threads.size()], "Trying to kill...success");
    const std::vector<std::string> sites(lines.begin() + 3, lines.begin() + 3 + threads.size());
    const std::regex shape(R"(Hang site: thread (\d+): (.+))");
    std::vector<std::uint32_t> walked;
    for (const std::string& line : sites) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        walked.push_back(static_cast<std::uint32_t>(std::stoul(match[1])));
        EXPECT_LE(Frames(match[2]).size(), ThreadFrames) << line;
    }
    EXPECT_EQ(walked.front(), threads.front()) << "the main thread first";
    EXPECT_EQ(std::set<std::uint32_t>(walked.begin(), walked.end()),
              std::set<std::uint32_t>(threads.begin(), threads.end()));
    EXPECT_EQ(CountContaining(sites, "Tamrix!TamrixWorkerWait+0x"), 2u);
    EXPECT_EQ(CountContaining(sites, "Tamrix!HangOnCallStream+0x"), pdb ? 1u : 0u);
    if (!pdb) {
        EXPECT_EQ(CountContaining(sites, "Tamrix!"), 2u) << "only the export is named";
    }
    // Which thread is the call stream nobody can tell: no site is counted.
    EXPECT_EQ(FMetrics->Figures().HangSites, std::vector<THangSiteCount>{});
    std::string event = "Call stream thread not responding.";
    for (const std::string& line : sites)
        event += "\r\n" + line;
    EXPECT_TRUE(ObservedAt(event));
}

INSTANTIATE_TEST_SUITE_P(Table, CallStreamHangSiteTest,
                         testing::Values(PdbCase{"WithPdb", true}, PdbCase{"WithoutPdb", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The recorded id names another program: nothing of it is opened, and the step says why.
TEST_F(MonitorHangSiteTest, ARecordedProgramIsNeitherOpenedNorWalked) {
    InstallDouble({{"record_pid", 0},
                   {"main_interval_ms", 100},
                   {"call_interval_ms", 100},
                   {"launch.1.main_stop_ms", 1000}});
    TChildProcess bystander(Quoted(TestBinDirectory() + "\\Bystander.exe") + " 60000");
    TTempDir::WriteFile(FIni, "[Options]\r\nmain_timeout=1\r\nstartup_timeout=5\r\n"
                              "[Recovery]\r\nhang_stack=1\r\n[Application]\r\nprocess_id=" +
                                  std::to_string(bystander.ProcessId()) + "\r\n");
    TChildProcess first = StartFirstDouble();
    StartMonitor();
    ASSERT_TRUE(WaitForLogLine(FLogFile, "Trying to start...wait 4 sec...success", 30000));
    const std::string refusal = "failed - process " + std::to_string(bystander.ProcessId()) +
                                " is Bystander.exe, not Tamrix.exe";
    EXPECT_EQ(
        LogLines(FLogFile),
        (std::vector<std::string>{
            "Log created", "Recovery: hang_dump=0 hang_dump_keep=5 restart_on_exit=0 hang_stack=1",
            "Main thread not responding.", "Hang site: " + refusal, "Trying to kill..." + refusal,
            "Trying to start...wait 4 sec...success"}));
    EXPECT_TRUE(bystander.IsRunning());
}

// Every thread walked runs again afterwards: none is left with a suspension of korvel's.
TEST_F(MonitorHangSiteTest, EveryThreadWalkedIsResumed) {
    InstallHangDouble(true, {{"hang_main_ms", 0}, {"workers", 3}});
    TChildProcess double_ = StartFirstDouble();
    WaitForHang("hanging-main");
    const std::uint32_t pid = double_.ProcessId();
    const THandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid));
    ASSERT_TRUE(process);
    const std::vector<std::uint32_t> threads = ThreadsOf(pid);
    const TStackReport all = ReadHangStacks(process.Get(), pid, TStackScope::AllThreads, 2000);
    const TStackReport main = ReadHangStacks(process.Get(), pid, TStackScope::MainThread, 2000);
    ASSERT_EQ(all.Failure, "");
    ASSERT_EQ(all.Threads.size(), threads.size());
    ASSERT_EQ(main.Threads.size(), 1u);
    EXPECT_EQ(main.Threads[0].ThreadId, threads.front());
    for (const TThreadStack& stack : all.Threads) {
        EXPECT_EQ(stack.Failure, "") << stack.ThreadId;
        const THandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, stack.ThreadId));
        ASSERT_TRUE(thread) << stack.ThreadId;
        EXPECT_EQ(SuspendThread(thread.Get()), 0u) << "thread " << stack.ThreadId << " suspended";
        ResumeThread(thread.Get());
    }
}

} // namespace
