#include "Monitor.h"

#include "Errors.h"
#include "ExecExtern.h"
#include "IntText.h"
#include "KorvelProtocol.h"
#include "Module.h"
#include "PathText.h"
#include "UTypes.h"
#include "WinApi.h"

#include <string>
#include <string_view>
#include <utility>

namespace {

constexpr const char* OptionsSection = "Options";
constexpr const char* ApplicationFile = "..\\Tamrix.exe";

// A restart line is built from pieces, so that the log shows how far a step got even if the
// process dies in the middle of it.
std::string WaitPiece(std::uint32_t seconds) {
    return "wait " + std::to_string(seconds) + " sec...";
}

} // namespace

TMonitor::TMonitor(TLog& log) : TMonitor(log, SettingsFileName(), SystemClock()) {}

TMonitor::TMonitor(TLog& log, std::string settingsFileName, TClock& clock)
    : TBetterThread(clock), FLog(log),
      FIniFile(std::make_unique<TIniFile>(std::move(settingsFileName))), FClock(clock) {
    // Should this raise, the base destructor stops the still suspended thread before its body
    // ever runs.
    LoadSettings();
    Resume();
}

TMonitor::~TMonitor() {
    // The body uses the settings file and the log up to its last step: stop it before either goes.
    Stop(-1);
    FIniFile.reset();
}

std::string TMonitor::SettingsFileName() {
    return ChangeFileExt(ModuleFileName(), ".ini");
}

void TMonitor::ReportEventError(WaitResult result, const TEvent& event, TLog& log) {
    if (result == WaitResult::Signaled || result == WaitResult::TimedOut)
        return;
    // One Write for the whole line: the other thread's lines cannot split it.
    std::string line = "Fatal error: ";
    switch (result) {
    case WaitResult::Abandoned:
        line += "Event object destroyed.";
        break;
    case WaitResult::Failed:
        line += "An error occurred while waiting " +
                SysErrorMessage(static_cast<std::uint32_t>(event.LastError()));
        break;
    default:
        line += "Unknown event error";
        break;
    }
    log.Write(line, true);
    TKorvelEvents::RecreateKorvelEvents();
}

void TMonitor::ReadSetting(std::uint32_t& value, const char* name, std::uint32_t defaultValue,
                           std::uint32_t min, std::uint32_t max) {
    const std::int32_t read =
        FIniFile->ReadInteger(OptionsSection, name, static_cast<std::int32_t>(defaultValue));
    // Unsigned view: a negative number in the file lands above every bound and ends at Max.
    const std::uint32_t unsignedValue = static_cast<std::uint32_t>(read);
    value = static_cast<std::uint32_t>(Min64(Max64(min, unsignedValue), max));
    FIniFile->WriteInteger(OptionsSection, name, static_cast<std::int32_t>(value));
}

void TMonitor::LoadSettings() {
    ReadSetting(FStartupTimeout, "startup_timeout", 20, 1, StartupTimeoutLimit);
    ReadSetting(FMainTimeout, "main_timeout", 60, 1, 86400);
    ReadSetting(FBusyTimeout, "busy_timeout", 5400, FMainTimeout, 86400);
    ReadSetting(FCallStreamTimeout, "call_stream_timeout", 60, 1, 86400);
    FAutoExit = FIniFile->ReadBool(OptionsSection, "auto_exit", true);
    FIniFile->WriteBool(OptionsSection, "auto_exit", FAutoExit);
}

std::uint32_t TMonitor::ReadProcessId() noexcept {
    try {
        const std::string text = FIniFile->ReadString(KorvelProtocol::ApplicationSection,
                                                      KorvelProtocol::ProcessIdKey, "0");
        const auto value = TryStrToInt64(text);
        return value ? static_cast<std::uint32_t>(static_cast<std::uint64_t>(*value)) : 0;
    } catch (...) {
        // Whatever went wrong, there is no id to kill by.
        return 0;
    }
}

HeartbeatState TMonitor::CheckEvent(TEvent& event, std::uint32_t now, std::uint32_t window,
                                    std::uint32_t& lastTick) {
    const WaitResult result = event.WaitFor(0);
    switch (result) {
    case WaitResult::Signaled:
        lastTick = now;
        event.ResetEvent();
        return HeartbeatState::Seen;
    case WaitResult::TimedOut:
        return ElapsedState(now, lastTick, window);
    default:
        ReportEventError(result, event, FLog);
        return HeartbeatState::EventError;
    }
}

void TMonitor::Execute() {
    TBetterThread::Execute();
    bool busy = false;
    std::uint32_t lastMainTick = FClock.Ticks();
    std::uint32_t lastCallStreamTick = lastMainTick;

    while (!Terminated()) {
        const std::uint32_t now = FClock.Ticks();
        // Each event is fetched from the set at its use: a check that fails rebuilds the set.
        if (!busy && CheckEvent(TKorvelEvents::KorvelEvents()->MainThreadBusy(), now, 0,
                                lastMainTick) == HeartbeatState::Seen)
            busy = true;
        const HeartbeatState main =
            CheckEvent(TKorvelEvents::KorvelEvents()->MainThread(), now,
                       WindowMs(EffectiveTimeout(busy, FMainTimeout)), lastMainTick);
        const HeartbeatState call =
            CheckEvent(TKorvelEvents::KorvelEvents()->CallStream(), now,
                       WindowMs(EffectiveTimeout(busy, FCallStreamTimeout)), lastCallStreamTick);
        if (busy && main == HeartbeatState::Seen)
            busy = false;

        if (Terminated())
            return;
        if (IsResponding(main) && IsResponding(call)) {
            FClock.Sleep(100);
            continue;
        }

        if (!IsResponding(main))
            FLog.Write("Main thread not responding.", true);
        if (!IsResponding(call))
            FLog.Write("Call stream thread not responding.", true);

        const bool ok = RestartApplication();
        // What this restart learnt is the starting point of the next one, here or in the next
        // supervisor.
        FIniFile->WriteInteger(OptionsSection, "startup_timeout",
                               static_cast<std::int32_t>(FStartupTimeout));
        if (!ok) {
            FLog.Write("Restart failed. Please run the application manually.", true);
            TKorvelEvents::KorvelEvents()->Shutdown().SetEvent();
            return;
        }
        // Fresh windows for the new instance; a busy announcement carries over.
        lastMainTick = lastCallStreamTick = FClock.Ticks();
    }
}

bool TMonitor::RestartApplication() {
    KillApplication();
    // Only a start signalled from here on counts; the killed instance may have left it set.
    TKorvelEvents::KorvelEvents()->Startup().ResetEvent();
    return StartApplication();
}

// Process ids are reused as soon as a process has gone: after a crash or a reboot the recorded id
// may name any other program of the user's. Only a process whose image has the file name of the
// program we launch is ours to terminate; its folder is not compared, since its user may have
// started Tamrix from elsewhere. Gives an empty text for Tamrix, else why the process is not
// terminated.
std::string TMonitor::CheckApplicationImage(void* process, std::uint32_t processId) {
    char image[MAX_PATH * 4];
    DWORD length = sizeof image;
    if (!QueryFullProcessImageNameA(process, 0, image, &length))
        return SysErrorMessage(GetLastError());
    const std::string_view found = ExtractFileName(std::string_view(image, length));
    const std::string expected(ExtractFileName(ApplicationFile));
    if (lstrcmpiA(std::string(found).c_str(), expected.c_str()) == 0)
        return {};
    return "process " + std::to_string(processId) + " is " + std::string(found) + ", not " +
           expected;
}

void TMonitor::KillApplication() {
    FLog.Write("Trying to kill...", false);
    const std::uint32_t processId = ReadProcessId();
    if (processId == 0) {
        // Nothing has failed here: the code is whatever the settings read left behind.
        FLog.Write("failed - " + SysErrorMessage(GetLastError()), true);
        return;
    }
    THandle process(
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        FLog.Write("failed - " + SysErrorMessage(GetLastError()), true);
        return;
    }
    if (const std::string refusal = CheckApplicationImage(process.Get(), processId);
        !refusal.empty()) {
        FLog.Write("failed - " + refusal, true);
        return;
    }
    if (TerminateProcess(process.Get(), KorvelProtocol::KilledExitCode)) {
        FLog.Write("success", true);
        // Give the system time to tear the process down before its successor starts.
        FClock.Sleep(1000);
    } else {
        FLog.Write("failed - " + SysErrorMessage(GetLastError()), true);
    }
}

bool TMonitor::StartApplication() {
    FLog.Write("Trying to start...", false);
    FStartupTimeout = LoweredStartupTimeout(FStartupTimeout);
    for (;;) {
        if (FStartupTimeout >= StartupTimeoutLimit) {
            FLog.Write("failed", true);
            return false;
        }
        try {
            LaunchProgram(ApplicationFile, SW_SHOW);
        } catch (const Exception& e) {
            FLog.Write("failed - " + e.Message(), true);
            return false;
        }
        FLog.Write(WaitPiece(FStartupTimeout), false);
        const WaitResult result =
            TKorvelEvents::KorvelEvents()->Startup().WaitFor(FStartupTimeout * 1000);
        if (Terminated()) {
            FLog.Write("Monitor terminated", true);
            return false;
        }
        if (result == WaitResult::Signaled) {
            FLog.Write("success", true);
            return true;
        }
        // Abandoned and failed waits count as unanswered too, without a report.
        ++FStartupTimeout;
    }
}
