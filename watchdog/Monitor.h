// TMonitor: the supervisor thread, the acts around the decisions of Heartbeat and StartupPlan.
// While Tamrix runs it polls the heartbeat events every 100 ms, and when one stays away too long it
// kills Tamrix, relaunches it and waits for its start.
//
// Threads: the main thread constructs and destroys it and reads AutoExit; everything else runs on
// the supervisor's own thread. The log is shared (it has its own lock); the events are fetched from
// the process-wide set at each use.
#pragma once

#include "BetterThread.h"
#include "Clock.h"
#include "Handle.h"
#include "FKorvelEvents.h"
#include "Heartbeat.h"
#include "IniFile.h"
#include "Log.h"
#include "Metrics.h"
#include "Settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TMonitor : public TBetterThread {
public:
    // Main thread. Loads the settings from the file beside the executable (writing each back) and
    // starts the thread. Raises EIniFileException when a setting cannot be written back; the
    // thread then never runs its body. metrics counts what it does.
    explicit TMonitor(TLog& log, TMetrics& metrics = TMetrics::Off());
    // The same on a given settings file and clock.
    TMonitor(TLog& log, std::string settingsFileName, TClock& clock,
             TMetrics& metrics = TMetrics::Off());
    // Main thread. Stops the thread without a time limit (a restart under way runs to the end of
    // its current start-up wait), then releases the settings file.
    ~TMonitor() override;

    // auto_exit as read when this supervisor was created. Written only by the constructor, so the
    // main thread may read it while the thread runs.
    bool AutoExit() const noexcept { return FSettings.AutoExit; }

    // Any thread, with or without a supervisor. For a wait that was abandoned or failed (or an
    // unknown outcome): writes one "Fatal error: " line and rebuilds the process-wide event set.
    // Signaled and TimedOut do nothing at all. Raises EOSError when the set cannot be rebuilt.
    static void ReportEventError(WaitResult result, const TEvent& event, TLog& log,
                                 TMetrics& metrics = TMetrics::Off());

protected:
    void Execute() override;

private:
    void LoadSettings();
    // One pass: polls, decides, and restarts when a heartbeat is overdue. False when supervision
    // ends (a stop was asked for, or a restart was given up).
    bool Supervise(THeartbeats& heartbeats);
    // Polls one event of the set, resets it when set, and reports a failed wait.
    EventPoll CheckEvent(TEventMember role);
    struct TRecordedProcess {
        std::uint32_t ProcessId;
        THandle Process; // empty when it cannot be opened or is not Tamrix
    };
    // For a step whose log line is open: opens the process Tamrix recorded with rights, checking
    // its image. When it cannot, the line ends with "failed - " and the reason.
    TRecordedProcess OpenRecordedApplication(unsigned long rights);
    // Kills Tamrix, then relaunches it.
    bool RestartApplication();
    // The start step after a reset of the start event, so that only a new start counts.
    bool RelaunchApplication();
    // hang_dump: "Trying to dump..." and its outcome, for the process the kill step will target.
    void DumpApplication();
    // restart_on_exit: takes a handle to the recorded Tamrix when it runs and is Tamrix.
    void FindApplication();
    // restart_on_exit: the exit code of a Tamrix that has ended without signalling its shutdown;
    // nothing while it runs or while none is known (then looking again at most once a second).
    std::optional<std::uint32_t> ApplicationExitCode(std::uint32_t now);
    // Writes the learnt start-up timeout back, the restart "Restart failed." line, and signals the
    // shutdown, which is set whatever fails on the way.
    void GiveUp();
    // Terminates the process recorded in process_id, but only when its image is Tamrix's.
    void KillApplication();
    bool StartApplication();
    // Runs step; an error it raises is written to the log as one "Fatal error: " line (the same
    // error at most once a minute) and dropped, so that supervision goes on. False when it raised.
    bool Survive(const std::function<void()>& step) noexcept;

    TLog& FLog;
    TMetrics& FMetrics;
    std::unique_ptr<TIniFile> FIniFile;
    TSettings FSettings; // as loaded by the constructor
    // The start-up timeout that the restarts have learnt since; starts at the loaded value.
    std::uint32_t FStartupTimeout = 0;
    TClock& FClock;
    // restart_on_exit: the recorded Tamrix while one is known, and when it was last looked for.
    THandle FApplication;
    std::uint32_t FApplicationLookTick = 0;
    // The last fatal error written, and when, so that a repeated one does not flood the log.
    std::string FLastFatalError;
    std::uint32_t FLastFatalErrorTick = 0;
};
