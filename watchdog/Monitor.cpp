#include "Monitor.h"

#include "Errors.h"
#include "ExecExtern.h"
#include "HangDump.h"
#include "InstallLayout.h"
#include "KorvelProtocol.h"
#include "ScopeExit.h"
#include "StartupPlan.h"
#include "WinApi.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace {

// A restart line is built from pieces, so that the log shows how far a step got even if the
// process dies in the middle of it.
std::string WaitPiece(std::uint32_t seconds) {
    return "wait " + std::to_string(seconds) + " sec...";
}

// Ends process with Tamrix's kill code and waits until it has gone: TerminateProcess only starts
// the ending, and a single-instance Tamrix would refuse a successor while the old one still exists.
// False, with the last error set, when the process could not be terminated.
bool TerminateApplication(HANDLE process) {
    if (!TerminateProcess(process, KorvelProtocol::KilledExitCode))
        return false;
    WaitForSingleObject(process, 10000);
    return true;
}

TImageVerdict CheckApplicationImage(HANDLE process, std::uint32_t processId) {
    char image[MAX_PATH * 4];
    DWORD length = sizeof image;
    if (QueryFullProcessImageNameA(process, 0, image, &length))
        return ImageVerdict(processId, std::string_view(image, length));
    return ImageQueryFailed(GetLastError());
}

// Decimal, or as 0x and 8 upper-case hex digits from 0x80000000 on, where the codes are NTSTATUS
// values such as 0xC0000005.
std::string ExitCodeText(std::uint32_t code) {
    if (code < 0x80000000u)
        return std::to_string(code);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

// One line for any error: a message's own line breaks (an EOSError's) become blanks.
std::string FatalErrorLine(std::string_view className, std::string_view message) {
    std::string line = "Fatal error: ";
    line += className;
    line += ": ";
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n')
            continue;
        line += message[i] == '\r' || message[i] == '\n' ? ' ' : message[i];
    }
    return line;
}

} // namespace

TMonitor::TMonitor(TLog& log, TMetrics& metrics)
    : TMonitor(log, SettingsFileName(), SystemClock(), metrics) {}

TMonitor::TMonitor(TLog& log, std::string settingsFileName, TClock& clock, TMetrics& metrics)
    : TBetterThread(clock), FLog(log), FMetrics(metrics),
      FIniFile(std::make_unique<TIniFile>(std::move(settingsFileName))), FClock(clock) {
    // Should this raise, the base destructor stops the still suspended thread before its body
    // ever runs.
    LoadSettings();
    // Right after "Process detected.", and only when a recovery feature is asked for: otherwise the
    // log stays as it always was.
    if (const std::string recovery = FSettings.RecoveryLine(); !recovery.empty())
        FLog.Write(recovery, true);
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
    FMetrics.StartupTimeout(FStartupTimeout);
}

void TMonitor::ReportEventError(WaitResult result, const TEvent& event, TLog& log,
                                TMetrics& metrics) {
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
    metrics.SupervisorError();
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
        ReportEventError(result, event, FLog, FMetrics);
        return EventPoll::Failed;
    }
}

void TMonitor::Execute() {
    TBetterThread::Execute();
    // The shell wants COM on a thread that launches through it.
    const TComApartment apartment;
    THeartbeats heartbeats;
    heartbeats.Restart(FClock.Ticks());
    if (FSettings.RestartOnExit)
        FindApplication();
    while (!Terminated()) {
        bool goOn = true;
        // A machine nobody watches must not lose its supervisor to one error: it is reported and,
        // after a pause, supervision goes on.
        if (!Survive([&] { goOn = Supervise(heartbeats); }))
            FClock.Sleep(1000);
        if (!goOn)
            return;
    }
}

bool TMonitor::Supervise(THeartbeats& heartbeats) {
    const std::uint32_t now = FClock.Ticks();
    const EventPoll busy =
        heartbeats.Busy ? EventPoll::Unset : CheckEvent(&TKorvelEvents::MainThreadBusy);
    const EventPoll main = CheckEvent(&TKorvelEvents::MainThread);
    const EventPoll callStream = CheckEvent(&TKorvelEvents::CallStream);
    const THeartbeatVerdict verdict =
        HeartbeatPass(heartbeats, now, FSettings, busy, main, callStream);

    if (Terminated())
        return false;
    const std::optional<std::uint32_t> exitCode =
        FSettings.RestartOnExit ? ApplicationExitCode(now) : std::nullopt;
    if (verdict.Responding() && !exitCode) {
        FClock.Sleep(100);
        return true;
    }

    bool ok = false;
    if (exitCode) {
        // Nothing left to kill, and no need to wait for a heartbeat window: start it at once.
        FLog.Write("Process ended with exit code " + ExitCodeText(*exitCode) + ".", true);
        FMetrics.TamrixRunning(false);
        FMetrics.RestartBegun(TRestartCause::Exit);
        ok = RelaunchApplication();
    } else {
        if (!IsResponding(verdict.Main)) {
            FLog.Write("Main thread not responding.", true);
            FMetrics.HangSeen(THangThread::Main);
        }
        if (!IsResponding(verdict.CallStream)) {
            FLog.Write("Call stream thread not responding.", true);
            FMetrics.HangSeen(THangThread::CallStream);
        }
        FMetrics.RestartBegun(TRestartCause::Hang);
        if (FSettings.HangDump != 0)
            DumpApplication();
        ok = RestartApplication();
    }
    // Fresh windows for the new instance before anything else can fail: a refused write-back
    // below must not make the next pass find the new instance overdue.
    heartbeats.Restart(FClock.Ticks());
    if (!ok) {
        GiveUp();
        return false;
    }
    // What this restart learnt is the starting point of the next one, here or in the next
    // supervisor.
    TSettings::WriteStartupTimeout(*FIniFile, FStartupTimeout);
    if (FSettings.RestartOnExit)
        FindApplication();
    return true;
}

void TMonitor::GiveUp() {
    // Without the shutdown the main thread would wait for ever while no Tamrix runs.
    const TScopeExit signal([] { TKorvelEvents::KorvelEvents()->Shutdown().SetEvent(); });
    Survive([&] { TSettings::WriteStartupTimeout(*FIniFile, FStartupTimeout); });
    FLog.Write("Restart failed. Please run the application manually.", true);
    FMetrics.RestartFailed();
}

bool TMonitor::Survive(const std::function<void()>& step) noexcept {
    std::string line;
    try {
        step();
        return true;
    } catch (const Exception& e) {
        line = FatalErrorLine(e.ClassName(), e.Message());
    } catch (const std::exception& e) {
        line = FatalErrorLine("std::exception", e.what());
    }
    try {
        const std::uint32_t now = FClock.Ticks();
        if (line != FLastFatalError || now - FLastFatalErrorTick >= 60000) {
            FLastFatalError = line;
            FLastFatalErrorTick = now;
            FLog.Write(line, true);
            FMetrics.SupervisorError();
        }
    } catch (...) {
        // The log itself is failing: there is nowhere left to tell.
    }
    return false;
}

bool TMonitor::RestartApplication() {
    KillApplication();
    return RelaunchApplication();
}

bool TMonitor::RelaunchApplication() {
    // Only a start signalled from here on counts; the instance that went may have left it set.
    TKorvelEvents::KorvelEvents()->Startup().ResetEvent();
    return StartApplication();
}

void TMonitor::DumpApplication() {
    FLog.Write("Trying to dump...", false);
    // The kill's guard: a reused id must not have another program's memory written to disk.
    const TRecordedProcess recorded =
        OpenRecordedApplication(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION |
                                PROCESS_VM_READ | PROCESS_DUP_HANDLE);
    if (!recorded.Process) {
        FMetrics.HangDumped(false);
        return;
    }
    try {
        const std::string name = WriteHangDump(recorded.Process.Get(), recorded.ProcessId,
                                               FSettings.HangDump, LogFolder);
        FLog.Write("success (" + name + ")", true);
        FMetrics.HangDumped(true);
    } catch (const EOSError& e) {
        FLog.Write("failed - " + ReasonText(e.ErrorCode()), true);
        FMetrics.HangDumped(false);
        return;
    }
    PruneHangDumps(LogFolder, FSettings.HangDumpKeep);
}

void TMonitor::FindApplication() {
    FApplicationLookTick = FClock.Ticks();
    const std::uint32_t processId = ReadProcessId(*FIniFile);
    if (processId == 0)
        return;
    THandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    // A process that has ended already is not adopted: only its id lingers in the file.
    if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT &&
        CheckApplicationImage(process.Get(), processId).IsApplication)
        FApplication = std::move(process);
}

std::optional<std::uint32_t> TMonitor::ApplicationExitCode(std::uint32_t now) {
    if (!FApplication) {
        if (now - FApplicationLookTick >= 1000)
            FindApplication();
        return std::nullopt;
    }
    if (WaitForSingleObject(FApplication.Get(), 0) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD exitCode = 0;
    GetExitCodeProcess(FApplication.Get(), &exitCode);
    FApplication.Reset();
    // A normal end is never restarted, whichever thread sees what first. Tamrix signals its
    // shutdown before it ends; the main thread asks this thread to stop before it consumes that
    // signal. So, read in this order, one of the two shows.
    if (TKorvelEvents::KorvelEvents()->Shutdown().WaitFor(0) == WaitResult::Signaled)
        return std::nullopt;
    if (Terminated())
        return std::nullopt;
    return exitCode;
}

TMonitor::TRecordedProcess TMonitor::OpenRecordedApplication(unsigned long rights) {
    TRecordedProcess recorded{ReadProcessId(*FIniFile), THandle()};
    if (recorded.ProcessId == 0) {
        // Nothing has failed here: the code is whatever the settings read left behind.
        FLog.Write("failed - " + SysErrorMessage(GetLastError()), true);
        return recorded;
    }
    THandle process(OpenProcess(rights, FALSE, recorded.ProcessId));
    if (!process) {
        FLog.Write("failed - " + SysErrorMessage(GetLastError()), true);
        return recorded;
    }
    const TImageVerdict verdict = CheckApplicationImage(process.Get(), recorded.ProcessId);
    if (!verdict.IsApplication) {
        FLog.Write("failed - " + verdict.Refusal, true);
        return recorded;
    }
    recorded.Process = std::move(process);
    return recorded;
}

void TMonitor::KillApplication() {
    FLog.Write("Trying to kill...", false);
    const TRecordedProcess recorded = OpenRecordedApplication(
        PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE);
    if (!recorded.Process) {
        FMetrics.KillFailed();
        return;
    }
    if (TerminateApplication(recorded.Process.Get())) {
        FLog.Write("success", true);
        // Give the system time to tear the process down before its successor starts.
        FClock.Sleep(1000);
    } else {
        FLog.Write("failed - " + SysErrorMessage(GetLastError()), true);
        FMetrics.KillFailed();
    }
}

bool TMonitor::StartApplication() {
    FLog.Write("Trying to start...", false);
    TStartupPlan plan(FStartupTimeout);
    // Whichever way the step ends, what it learnt is kept for the write-back.
    const TScopeExit keep([&] {
        FStartupTimeout = plan.Learnt();
        FMetrics.StartupTimeout(FStartupTimeout);
    });
    // The instance of this restart that has not answered yet. It is ended before the next launch:
    // all instances pulse the same events, so one left behind would hide a hang of another, and
    // the next kill would reach only the last recorded one.
    THandle unanswered;
    const auto endUnanswered = [&] {
        if (unanswered)
            TerminateApplication(unanswered.Get());
        unanswered.Reset();
    };
    for (;;) {
        const std::optional<std::uint32_t> wait = plan.NextWait();
        if (!wait) {
            endUnanswered();
            FLog.Write("failed", true);
            return false;
        }
        endUnanswered();
        try {
            unanswered = LaunchProcess(ApplicationFile, SW_SHOW);
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
            FMetrics.TamrixRunning(true);
            return true;
        }
        // Abandoned and failed waits count as unanswered too, without a report.
        plan.Unanswered();
    }
}
