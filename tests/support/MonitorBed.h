// TMonitorBed: a supervisor with real processes, set up as the watchdog has it. Outside any
// anonymous namespace, so that test files may share it as the fixture of one suite.
#pragma once

#include "Deadline.h"
#include "FKorvelEvents.h"
#include "FakeClock.h"
#include "Handle.h"
#include "Log.h"
#include "Monitor.h"
#include "Processes.h"
#include "SessionState.h"
#include "SharedFile.h"
#include "TamrixScript.h"
#include "TempDir.h"
#include "WatchdogEvents.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// What one launch of the double does, from the first pass that sees it (by its launch count):
// it pulses both heartbeats, and from At on, Act. While no double has been launched nothing
// pulses.
enum class TTamrixAct : std::uint8_t { Healthy, MainHang, CallStreamHang, Crash, Raise };
struct TLaunchAct {
    TTamrixAct Act = TTamrixAct::Healthy;
    std::uint32_t At = 0;
    // After a crash: this long after it someone else starts the next launch (0: nobody does).
    std::uint32_t ElsewhereAfter = 0;
};
// Per launch, in virtual ticks: the pass that first saw it, and its crash (or its raise).
struct TLaunchSeen {
    std::uint32_t Seen = 0;
    std::uint32_t Crashed = 0;
};

// <tmp>\app\Tamrix.exe (the double, when wanted) and <tmp>\app\korvel as the current directory,
// as the watchdog has it; the settings file is <tmp>\app\korvel\korvel.ini.
class TMonitorBed : public TWatchdogEventsTest {
protected:
    void SetUp() override {
        TWatchdogEventsTest::SetUp();
        CreateDirectoryA(FApp.c_str(), nullptr);
        CreateDirectoryA(FKorvel.c_str(), nullptr);
        GetCurrentDirectoryA(MAX_PATH, FOldDirectory);
        SetCurrentDirectoryA(FKorvel.c_str());
    }
    void TearDown() override {
        FMonitor.reset();
        // Every double launched in this test, by us or by the supervisor, ends here.
        KillDoubles(FTamrix);
        SetCurrentDirectoryA(FOldDirectory);
        TWatchdogEventsTest::TearDown();
    }

    void InstallDouble(std::initializer_list<TScriptEntry> script) {
        ASSERT_TRUE(
            CopyFileA((TestBinDirectory() + "\\TamrixDouble.exe").c_str(), FTamrix.c_str(), FALSE));
        WriteTamrixScript(FTamrix, script);
    }
    // The first instance, started as its user would; it records its pid and signals its start.
    TChildProcess StartFirstDouble() {
        TChildProcess first(Quoted(FTamrix), FApp);
        EXPECT_TRUE(WaitForTamrixTrace(
            FTamrix, [](const TTraceRecord& r) { return r.What == "startup-set"; }, 10000));
        return first;
    }
    void WriteOptions(const std::string& lines) {
        TTempDir::WriteFile(FIni, "[Options]\r\n" + lines);
    }
    void StartMonitor() {
        FMonitor = std::make_unique<TMonitor>(FLog, FIni, SystemClock(), TMetrics::Off(), FSession,
                                              FProcessSessions);
    }

    // The supervisor on a fake clock that plays plan at each pass (launch n does plan[n - 1],
    // later ones stay healthy): minutes of supervision pass in a moment, while the doubles it
    // launches, its kills and its waits for their start take real time. Nothing the test plays
    // depends on real time passing between passes. The double's own pulses must be off
    // (main_interval_ms=0, call_interval_ms=0).
    void StartVirtualMonitor(std::vector<TLaunchAct> plan, TMetrics& metrics = TMetrics::Off()) {
        FPlan = std::move(plan);
        FTestThread = GetCurrentThreadId();
        FVirtual.SetSleepHook([this](std::uint32_t) {
            // The thread base's stop polls from the test's thread.
            if (GetCurrentThreadId() == FTestThread)
                return;
            PlayPass(FVirtual.Ticks());
        });
        FMonitor = std::make_unique<TMonitor>(FLog, FIni, FVirtual, metrics);
    }
    std::vector<TLaunchSeen> LaunchesSeen() {
        const std::lock_guard lock(FPlayLock);
        return FSeen;
    }

    std::string Setting(const char* key) const {
        char value[64];
        GetPrivateProfileStringA("Options", key, "", value, sizeof value, FIni.c_str());
        return value;
    }
    // A restart's learnt start-up timeout is written back after its step's line.
    bool SettingBecomes(const char* key, const std::string& expected) const {
        return WaitUntil([&] { return Setting(key) == expected; }, 10000);
    }
    bool ShutdownSet() const {
        return TKorvelEvents::KorvelEvents()->Shutdown().WaitFor(0) == WaitResult::Signaled;
    }

    void PlayPass(std::uint32_t now) {
        const std::string count = ReadSharedFile(TamrixCountPath(FTamrix)).value_or("0");
        const std::size_t launch = std::strtoul(count.c_str(), nullptr, 10);
        std::unique_lock lock(FPlayLock);
        while (FSeen.size() < launch)
            FSeen.push_back({now, 0});
        if (launch == 0)
            return;
        const TLaunchAct act = launch <= FPlan.size() ? FPlan[launch - 1] : TLaunchAct{};
        TLaunchSeen& seen = FSeen[launch - 1];
        const bool due = act.Act != TTamrixAct::Healthy && now - seen.Seen >= act.At;
        auto events = TKorvelEvents::KorvelEvents();
        if (!due || act.Act != TTamrixAct::MainHang)
            events->MainThread().SetEvent();
        if (!due || act.Act != TTamrixAct::CallStreamHang)
            events->CallStream().SetEvent();
        if (seen.Crashed != 0 && act.ElsewhereAfter != 0 && FSeen.size() == launch &&
            now - seen.Crashed >= act.ElsewhereAfter) {
            lock.unlock();
            FElsewhere.emplace_back(Quoted(FTamrix), FApp);
            WaitForTamrixTrace(
                FTamrix,
                [&](const TTraceRecord& r) {
                    return r.Launch == static_cast<int>(launch + 1) && r.What == "startup-set";
                },
                10000);
            return;
        }
        if (!due || seen.Crashed != 0)
            return;
        if (act.Act == TTamrixAct::Crash) {
            seen.Crashed = now;
            const UINT pid = GetPrivateProfileIntA("Application", "process_id", 0, FIni.c_str());
            const THandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            TerminateProcess(process.Get(), 3);
            WaitForSingleObject(process.Get(), 5000);
        } else if (act.Act == TTamrixAct::Raise) {
            seen.Crashed = now;
            lock.unlock();
            throw std::runtime_error("played");
        }
    }

    TTempDir FDir;
    std::string FApp = FDir.File("app");
    std::string FKorvel = FApp + "\\korvel";
    std::string FTamrix = FApp + "\\Tamrix.exe";
    std::string FIni = FKorvel + "\\korvel.ini";
    std::string FLogFile = FDir.File("korvel.log");
    TLog FLog{FLogFile, true};
    // A session that a test can end, as Wine's never does.
    struct TTestSession : TSessionState {
        std::atomic<bool> IsEnding{false};
        bool Ending() override { return IsEnding; }
    } FSession;
    // Processes that a test shows in another logon session, which Wine never has; the system's
    // answers for every other process.
    struct TTestProcessSessions : TProcessSessions {
        std::mutex Lock;
        std::map<std::uint32_t, std::uint32_t> Moved; // process id to session, under Lock
        void Move(std::uint32_t processId, std::uint32_t session) {
            const std::lock_guard lock(Lock);
            Moved[processId] = session;
        }
        std::optional<std::uint32_t> SessionOf(std::uint32_t processId) override {
            {
                const std::lock_guard lock(Lock);
                if (const auto moved = Moved.find(processId); moved != Moved.end())
                    return moved->second;
            }
            return SystemProcessSessions().SessionOf(processId);
        }
        std::vector<TSessionProcess> Processes() override {
            std::vector<TSessionProcess> processes = SystemProcessSessions().Processes();
            const std::lock_guard lock(Lock);
            for (TSessionProcess& process : processes)
                if (const auto moved = Moved.find(process.ProcessId); moved != Moved.end())
                    process.SessionId = moved->second;
            return processes;
        }
    } FProcessSessions;
    TFakeClock FVirtual{1000000};
    std::vector<TLaunchAct> FPlan;
    DWORD FTestThread = 0;
    std::mutex FPlayLock;
    std::vector<TLaunchSeen> FSeen; // under FPlayLock
    std::vector<TChildProcess> FElsewhere;
    std::unique_ptr<TMonitor> FMonitor;
    char FOldDirectory[MAX_PATH] = {};
};
