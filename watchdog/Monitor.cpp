#include "Monitor.h"

#include "Errors.h"
#include "ExecExtern.h"
#include "HangSite.h"
#include "InstallLayout.h"
#include "LaunchGate.h"
#include "MonitorText.h"
#include "ScopeExit.h"
#include "StartupPlan.h"
#include "WinApi.h"

#include <algorithm>
#include <string>
#include <utility>

TMonitor::TMonitor(TLog& log, TMetrics& metrics, TSettingsLayers& layers)
    : TMonitor(log, SettingsFileName(), SystemClock(), metrics, SystemSession(),
               SystemProcessSessions(), layers) {}

TMonitor::TMonitor(TLog& log, std::string settingsFileName, TClock& clock, TMetrics& metrics,
                   TSessionState& session, TProcessSessions& processSessions,
                   TSettingsLayers& layers)
    : TBetterThread(clock), FLog(log), FMetrics(metrics),
      FIniFile(std::make_unique<TIniFile>(std::move(settingsFileName), clock)), FClock(clock),
      FSession(session), FLayers(layers),
      FApplication(
          log, metrics, *FIniFile, FSettings, clock, [this] { return Terminated(); },
          processSessions, layers) {
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
    const TLoaded<TSettings> loaded = FLayers.LoadSupervisor(*FIniFile);
    FSettings = loaded.Settings;
    FStartupTimeout = FSettings.StartupTimeout;
    FMetrics.StartupTimeout(FStartupTimeout);
    for (const std::string& line : loaded.Lines)
        FLog.Write(line, true);
}

void TMonitor::ReportEventError(WaitResult result, const TEvent& event, TLog& log,
                                TMetrics& metrics) {
    if (result == WaitResult::Signaled || result == WaitResult::TimedOut)
        return;
    // One line aside: the other thread may have a step line open, which this must not split.
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
    log.WriteAside(line);
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
    // From here on the metrics file shows this thread's stamps, and once it ends korvel's own.
    const TScopeExit polled([this] { FMetrics.PollsEnded(); });
    // The shell wants COM on a thread that launches through it.
    const TComApartment apartment;
    THeartbeats heartbeats;
    // A machine nobody watches must not lose its supervisor to one error: every step is reported
    // and, after a pause, supervision goes on.
    if (!Survive([&] { Begin(heartbeats); }))
        FClock.Sleep(1000);
    // Between two passes only: a pass holds a whole restart.
    while (!Terminated() && !FEndBetweenPasses) {
        bool goOn = true;
        if (!Survive([&] { goOn = Supervise(heartbeats); }))
            FClock.Sleep(1000);
        if (!goOn)
            return;
    }
}

void TMonitor::Begin(THeartbeats& heartbeats) {
    const std::uint32_t now = FClock.Ticks();
    heartbeats.Restart(now);
    // The main thread saw the start signal just before it made this supervisor.
    FBackoff.Started(now);
    if (FSettings.RestartOnExit)
        FApplication.Find();
}

bool TMonitor::Supervise(THeartbeats& heartbeats) {
    FMetrics.Polled();
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
        FSettings.RestartOnExit ? FApplication.ExitCode(now) : std::nullopt;
    // An end of the session that was cancelled while the heartbeats came back: the next end is
    // another, with a line of its own.
    if (FRestartHeld && !FSession.Ending())
        FRestartHeld = false;
    // A later silence is another hang.
    if (exitCode || verdict.Responding())
        FHeldHang.reset();
    if (!exitCode && (verdict.Responding() || RestartHeld())) {
        FClock.Sleep(100);
        return true;
    }

    bool ok = false;
    if (exitCode) {
        // Nothing left to kill, and no need to wait for a heartbeat window.
        FLog.Write("Process ended with exit code " + ExitCodeText(*exitCode) + ".", true);
        FMetrics.TamrixRunning(false);
        switch (RestartAfterExit(now)) {
        case TAfterExit::Stopped:
            return false;
        case TAfterExit::StartedElsewhere: {
            const std::uint32_t started = FClock.Ticks();
            heartbeats.Restart(started);
            FBackoff.Started(started);
            FLog.Write("Process detected.", true);
            FMetrics.TamrixRunning(true);
            FApplication.Find();
            return true;
        }
        case TAfterExit::Relaunched:
            ok = true;
            break;
        case TAfterExit::Failed:
            break;
        }
    } else {
        // One hang, one line, one count, one dump: a resumed restart reports only a thread that
        // has fallen silent since.
        const bool resumed = FHeldHang.has_value();
        const THungThreads reported = FHeldHang.value_or(THungThreads{false, false});
        const THungThreads hang{!IsResponding(verdict.Main) || reported.Main,
                                !IsResponding(verdict.CallStream) || reported.CallStream};
        const THungThreads fresh{hang.Main && !reported.Main,
                                 hang.CallStream && !reported.CallStream};
        ReportHang(fresh, hang.Main);
        if (!resumed) {
            FMetrics.RestartBegun(TRestartCause::Hang);
            if (FSettings.HangDump != 0)
                FApplication.Dump();
        }
        // A main thread that does not respond would never read the request to close; a resumed
        // restart has had its close step.
        const TRestart restarted = RestartApplication(!resumed && FSettings.CloseTimeout != 0 &&
                                                      IsResponding(verdict.Main));
        if (restarted == TRestart::Stopped)
            return false;
        if (restarted == TRestart::Held) {
            // The heartbeat still stays away: once the session's end is cancelled, the next pass
            // goes on with the kill.
            FHeldHang = hang;
            FClock.Sleep(100);
            return true;
        }
        FHeldHang.reset();
        ok = restarted == TRestart::Started;
    }
    // Fresh windows for the new instance before anything else can fail: a refused write-back
    // below must not make the next pass find the new instance overdue.
    const std::uint32_t after = FClock.Ticks();
    heartbeats.Restart(after);
    if (!ok) {
        GiveUp();
        return false;
    }
    FBackoff.Started(after);
    if (FSettings.RestartOnExit)
        FApplication.Find();
    // What this restart learnt is the starting point of the next one, here or in the next
    // supervisor.
    FLayers.KeepStartupTimeout(*FIniFile, FStartupTimeout);
    return true;
}

void TMonitor::ReportHang(const THungThreads& fresh, bool mainThreadHang) {
    std::vector<std::string> hangs;
    if (fresh.Main) {
        hangs.emplace_back("Main thread not responding.");
        FMetrics.HangSeen(THangThread::Main);
    }
    if (fresh.CallStream) {
        hangs.emplace_back("Call stream thread not responding.");
        FMetrics.HangSeen(THangThread::CallStream);
    }
    if (!FSettings.HangStack || hangs.empty()) {
        for (const std::string& line : hangs)
            FLog.Write(line, true);
        return;
    }
    // The event of each hang waits for the site, so that it carries the same text as the log.
    for (const std::string& line : hangs)
        FLog.WriteUnobserved(line);
    // Both hung: the main thread is the one that stopped everything.
    const std::vector<std::string> sites = FApplication.HangSite(mainThreadHang);
    for (const std::string& line : hangs)
        FLog.Observe(HangEventText(line, sites));
}

void TMonitor::GiveUp() {
    // A stop asked for during the restart (the main thread has seen a shutdown, or korvel is
    // ending) is an orderly end: it must not fire an alert on given-up restarts, and no thread waits
    // for a shutdown signal then. One set anyway would outlive this supervisor and end the next
    // one's supervision at once, as a shutdown nobody gave.
    const bool stopped = Terminated();
    const TScopeExit signal([stopped] {
        // Without the shutdown the main thread would wait for ever while no Tamrix runs.
        if (!stopped)
            TKorvelEvents::KorvelEvents()->Shutdown().SetEvent();
    });
    Survive([&] { FLayers.KeepStartupTimeout(*FIniFile, FStartupTimeout); });
    // The line stays, but a stop is no failure to report to the event log.
    constexpr const char* Failed = "Restart failed. Please run the application manually.";
    if (stopped) {
        FLog.WriteUnobserved(Failed);
    } else {
        FLog.Write(Failed, true);
        FMetrics.RestartFailed();
    }
}

bool TMonitor::Survive(const std::function<void()>& step) noexcept {
    std::exception_ptr error;
    try {
        step();
        return true;
    } catch (...) {
        error = std::current_exception();
    }
    try {
        ReportFatalError(error);
    } catch (...) {
        // Out of memory, or the log itself is failing: there is nowhere left to tell.
    }
    return false;
}

void TMonitor::ReportFatalError(const std::exception_ptr& error) {
    std::string line;
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        line = FatalErrorLine(e.ClassName(), e.Message());
    } catch (const std::exception& e) {
        line = FatalErrorLine("std::exception", e.what());
    } catch (...) {
        line = FatalErrorLine("unknown exception", {});
    }
    if (FFatalErrors.Allow(line, FClock.Ticks())) {
        FLog.Write(line, true);
        FMetrics.SupervisorError();
    }
}

TMonitor::TRestart TMonitor::RestartApplication(bool closeFirst) {
    // The followed instance is about to be closed or killed: its end is korvel's doing, never a
    // crash.
    FApplication.BeginRestart();
    // Up to the end of the start step: the closed instance may signal its shutdown late.
    FClosing = closeFirst;
    const TScopeExit closing([&] { FClosing = false; });
    using TClosed = TApplication::TClosed;
    const TClosed closed = closeFirst ? FApplication.Close() : TClosed::No;
    if (closed == TClosed::Stopped)
        return TRestart::Stopped;
    if (closed == TClosed::Yes)
        // As after a kill: the system may still be tearing the closed process down.
        FClock.Sleep(1000);
    else if (RestartHeld())
        // The session began to end while Tamrix was asked to close: it may be saving for it now.
        return TRestart::Held;
    else
        FApplication.Kill();
    return StartApplication() ? TRestart::Started : TRestart::Failed;
}

TMonitor::TAfterExit TMonitor::RestartAfterExit(std::uint32_t now) {
    FApplication.ForgetEnded();
    const std::uint32_t seconds = FBackoff.Ended(now);
    if (seconds != 0) {
        FLog.Write(BackoffLine(seconds), true);
        // Only a start signalled from here on counts: the instance that ended may have left it set.
        TKorvelEvents::KorvelEvents()->Startup().ResetEvent();
        const std::uint32_t begin = FClock.Ticks();
        for (;;) {
            if (Terminated())
                return TAfterExit::Stopped;
            if (TKorvelEvents::KorvelEvents()->Startup().WaitFor(0) == WaitResult::Signaled)
                return TAfterExit::StartedElsewhere;
            const std::uint32_t elapsed = FClock.Ticks() - begin;
            if (elapsed >= seconds * 1000)
                break;
            // One pass at a time, as the heartbeats are polled: a stop or a start is seen within
            // 100 ms.
            FClock.Sleep(std::min<std::uint32_t>(100, seconds * 1000 - elapsed));
        }
    }
    FMetrics.RestartBegun(TRestartCause::Exit);
    return StartApplication() ? TAfterExit::Relaunched : TAfterExit::Failed;
}

bool TMonitor::MayLaunch(bool lineOpen) {
    bool held = false;
    for (;;) {
        // Before each launch, and through a held start: a restart of many start-up waits is no
        // supervisor that stopped.
        FMetrics.Polled();
        switch (LaunchGate(FSession.Ending(), Terminated(), held)) {
        case TLaunchGate::Launch:
            return true;
        case TLaunchGate::Stop:
            return false;
        case TLaunchGate::Hold:
            // Tamrix ended by a sign-out, started again, would only hold the sign-out up.
            if (!lineOpen)
                FLog.Write("Start held while the session ends.", true);
            held = true;
            break;
        case TLaunchGate::Wait:
            break;
        }
        FClock.Sleep(100);
    }
}

bool TMonitor::RestartHeld() {
    switch (RestartGate(FSession.Ending(), FRestartHeld)) {
    case TRestartGate::Restart:
        return false;
    case TRestartGate::Hold:
        FLog.Write("Restart held while the session ends.", true);
        FRestartHeld = true;
        return true;
    case TRestartGate::Wait:
        break;
    }
    return true;
}

bool TMonitor::StartApplication() {
    if (!MayLaunch(false)) {
        FLog.Write("Monitor terminated", true);
        return false;
    }
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
            FApplication.End(std::move(unanswered));
        unanswered.Reset();
    };
    for (bool first = true;; first = false) {
        const std::optional<std::uint32_t> wait = plan.NextWait();
        endUnanswered();
        if (!wait) {
            FLog.Write("failed", true);
            return false;
        }
        if (!first && !MayLaunch(true)) {
            FLog.Write("Monitor terminated", true);
            return false;
        }
        // Only a start signalled after this launch counts: an instance just ended, or the one that
        // went before the restart, may have set it late.
        TKorvelEvents::KorvelEvents()->Startup().ResetEvent();
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
