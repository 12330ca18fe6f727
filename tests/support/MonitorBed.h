// TMonitorBed: a supervisor with real processes, set up as the watchdog has it. Outside any
// anonymous namespace, so that test files may share it as the fixture of one suite.
#pragma once

#include "FKorvelEvents.h"
#include "Handle.h"
#include "Log.h"
#include "Monitor.h"
#include "Processes.h"
#include "SessionState.h"
#include "TamrixScript.h"
#include "TempDir.h"
#include "WatchdogEvents.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

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
        FMonitor = std::make_unique<TMonitor>(FLog, FIni, SystemClock(), TMetrics::Off(), FSession);
    }

    std::string Setting(const char* key) const {
        char value[64];
        GetPrivateProfileStringA("Options", key, "", value, sizeof value, FIni.c_str());
        return value;
    }
    bool ShutdownSet() const {
        return TKorvelEvents::KorvelEvents()->Shutdown().WaitFor(0) == WaitResult::Signaled;
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
    std::unique_ptr<TMonitor> FMonitor;
    char FOldDirectory[MAX_PATH] = {};
};
