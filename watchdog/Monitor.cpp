#include "Monitor.h"

#include "Errors.h"
#include "ExecExtern.h"
#include "InstallLayout.h"
#include "KorvelProtocol.h"
#include "PathText.h"
#include "ScopeExit.h"
#include "StartupPlan.h"
#include "WinApi.h"

#include <string>
#include <string_view>
#include <utility>

namespace {

// A restart line is built from pieces, so that the log shows how far a step got even if the
// process dies in the middle of it.
std::string WaitPiece(std::uint32_t seconds) {
    return "wait " + std::to_string(seconds) + " sec...";
}

// Process ids are reused as soon as a process has gone: after a crash or a reboot the recorded id
// may name any other program of the user's. Only a process whose image has the file name of the
// program we launch is ours to terminate; its folder is not compared, since its user may have
// started Tamrix from elsewhere. Gives an empty text for Tamrix, else why the process is not
// terminated.
std::string CheckApplicationImage(void* process, std::uint32_t processId) {
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

void TMonitor::LoadSettings() {
    FSettings = TSettings::Load(*FIniFile);
    FStartupTimeout = FSettings.StartupTimeout;
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

EventPoll TMonitor::CheckEvent(TEventMember role) {
    // Fetched at its use: a failed check on the other thread may have rebuilt the set.
    const TKorvelEventsRef events = TKorvelEvents::KorvelEvents();
    TEvent& event = (*events.*role)();
    const WaitResult result = event.WaitFor(0);
    switch (result) {
    case WaitResult::Signaled:
        event.ResetEvent();
        return EventPoll::Set;
    case WaitResult::TimedOut:
        return EventPoll::Unset;
    default:
        ReportEventError(result, event, FLog);
        return EventPoll::Failed;
    }
}

void TMonitor::Execute() {
    TBetterThread::Execute();
    THeartbeats heartbeats;
    heartbeats.Restart(FClock.Ticks());

    while (!Terminated()) {
        const std::uint32_t now = FClock.Ticks();
        const EventPoll busy =
            heartbeats.Busy ? EventPoll::Unset : CheckEvent(&TKorvelEvents::MainThreadBusy);
        const EventPoll main = CheckEvent(&TKorvelEvents::MainThread);
        const EventPoll callStream = CheckEvent(&TKorvelEvents::CallStream);
        const THeartbeatVerdict verdict =
            HeartbeatPass(heartbeats, now, FSettings, busy, main, callStream);

        if (Terminated())
            return;
        if (verdict.Responding()) {
            FClock.Sleep(100);
            continue;
        }

        if (!IsResponding(verdict.Main))
            FLog.Write("Main thread not responding.", true);
        if (!IsResponding(verdict.CallStream))
            FLog.Write("Call stream thread not responding.", true);

        const bool ok = RestartApplication();
        // What this restart learnt is the starting point of the next one, here or in the next
        // supervisor.
        TSettings::WriteStartupTimeout(*FIniFile, FStartupTimeout);
        if (!ok) {
            FLog.Write("Restart failed. Please run the application manually.", true);
            TKorvelEvents::KorvelEvents()->Shutdown().SetEvent();
            return;
        }
        heartbeats.Restart(FClock.Ticks());
    }
}

bool TMonitor::RestartApplication() {
    KillApplication();
    // Only a start signalled from here on counts; the killed instance may have left it set.
    TKorvelEvents::KorvelEvents()->Startup().ResetEvent();
    return StartApplication();
}

void TMonitor::KillApplication() {
    FLog.Write("Trying to kill...", false);
    const std::uint32_t processId = ReadProcessId(*FIniFile);
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
    TStartupPlan plan(FStartupTimeout);
    // Whichever way the step ends, what it learnt is kept for the write-back.
    const TScopeExit keep([&] { FStartupTimeout = plan.Learnt(); });
    for (;;) {
        const std::optional<std::uint32_t> wait = plan.NextWait();
        if (!wait) {
            FLog.Write("failed", true);
            return false;
        }
        try {
            LaunchProgram(ApplicationFile, SW_SHOW);
        } catch (const Exception& e) {
            FLog.Write("failed - " + e.Message(), true);
            return false;
        }
        FLog.Write(WaitPiece(*wait), false);
        const WaitResult result = TKorvelEvents::KorvelEvents()->Startup().WaitFor(*wait * 1000);
        if (Terminated()) {
            FLog.Write("Monitor terminated", true);
            return false;
        }
        if (result == WaitResult::Signaled) {
            FLog.Write("success", true);
            return true;
        }
        // Abandoned and failed waits count as unanswered too, without a report.
        plan.Unanswered();
    }
}
