// TMonitor: the supervisor thread, the loop around the decisions of Heartbeat and StartupPlan.
// While Tamrix runs it polls the heartbeat events every 100 ms, and when one stays away too long it
// has Tamrix killed (with close_timeout, after asking it to close when only the call stream hung),
// relaunches it and waits for its start. The acts on the process itself are TApplication's.
//
// Threads: the main thread constructs and destroys it and reads AutoExit; everything else runs on
// the supervisor's own thread. The log is shared (it has its own lock); the events are fetched from
// the process-wide set at each use.
#pragma once

#include "Application.h"
#include "BetterThread.h"
#include "Clock.h"
#include "CrashBackoff.h"
#include "FKorvelEvents.h"
#include "Handle.h"
#include "Heartbeat.h"
#include "IniFile.h"
#include "Log.h"
#include "Metrics.h"
#include "SessionState.h"
#include "Settings.h"
#include "SettingsLayers.h"
#include "Throttle.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TMonitor : public TBetterThread {
public:
    // Main thread. Loads the settings from the file beside the executable, as layers says for its
    // layout (single-user: writing each back), writes the lines the load gave, and starts the
    // thread. Raises EIniFileException when a setting cannot be written back; the thread then never
    // runs its body. metrics counts what it does. layers outlives the supervisor.
    TMonitor(TLog& log, TMetrics& metrics, TSettingsLayers& layers);
    // The same on a given settings file, clock, session and sessions of processes.
    TMonitor(TLog& log, std::string settingsFileName, TClock& clock,
             TMetrics& metrics = TMetrics::Off(), TSessionState& session = SystemSession(),
             TProcessSessions& processSessions = SystemProcessSessions(),
             TSettingsLayers& layers = TSettingsLayers::SingleUser());
    // Main thread. Stops the thread without a time limit (a restart under way runs to the end of
    // its current start-up wait), then releases the settings file.
    ~TMonitor() override;

    // auto_exit as read when this supervisor was created. Written only by the constructor, so the
    // main thread may read it while the thread runs.
    bool AutoExit() const noexcept { return FSettings.AutoExit; }

    // Main thread. True from korvel's request that Tamrix close until the restart after it is
    // done: a shutdown signalled meanwhile comes from the instance korvel closed, and is no end of
    // Tamrix.
    bool Closing() const noexcept { return FClosing; }

    // Main thread. Asks the supervisor to end once the pass under way is over, never inside a
    // restart: a restart runs to its end (Tamrix started, or given up) first. Ended() is
    // signalled then; Tamrix is left running.
    void EndBetweenPasses() noexcept { FEndBetweenPasses = true; }
    // The supervisor's thread, a handle to wait on: signalled once the thread has ended.
    void* Ended() const noexcept { return Handle(); }

    // Any thread, with or without a supervisor. For a wait that was abandoned or failed (or an
    // unknown outcome): writes one "Fatal error: " line and rebuilds the process-wide event set.
    // Signaled and TimedOut do nothing at all. Raises EOSError when the set cannot be rebuilt.
    static void ReportEventError(WaitResult result, const TEvent& event, TLog& log,
                                 TMetrics& metrics = TMetrics::Off());

protected:
    void Execute() override;

private:
    void LoadSettings();
    // The first step of the body: fresh windows, and the Tamrix to follow for restart_on_exit.
    void Begin(THeartbeats& heartbeats);
    // One pass: polls, decides, and restarts when a heartbeat is overdue or Tamrix has ended.
    // False when supervision ends (a stop was asked for, or a restart was given up).
    bool Supervise(THeartbeats& heartbeats);
    // Polls one event of the set, resets it when set, and reports a failed wait.
    EventPoll CheckEvent(TEventMember role);
    // Asks Tamrix to close first when closeFirst, kills it unless it closed, then relaunches it.
    // Stopped when a stop came during the close; Held, with neither kill nor launch, when the
    // session is ending by the time of the kill.
    enum class TRestart : std::uint8_t { Started, Failed, Stopped, Held };
    TRestart RestartApplication(bool closeFirst);
    // restart_on_exit, after "Process ended with exit code N.": waits as the crash back-off says,
    // then relaunches. The wait ends without a launch when a stop is asked for or when a Tamrix
    // started by someone else signals its start, which is then the one supervised.
    enum class TAfterExit : std::uint8_t { Relaunched, Failed, StartedElsewhere, Stopped };
    TAfterExit RestartAfterExit(std::uint32_t now);
    // Which heartbeats a hang concerns.
    struct THungThreads {
        bool Main;
        bool CallStream;
    };
    // The lines of the threads freshly found hung, each counted; with hang_stack, then where Tamrix
    // is stuck (its main thread when mainThreadHang, else every thread), and the hang's event,
    // which waits for the site, carries both.
    void ReportHang(const THungThreads& fresh, bool mainThreadHang);
    // Writes the learnt start-up timeout back, the restart "Restart failed." line, and signals the
    // shutdown, which is set whatever fails on the way.
    void GiveUp();
    // Before a launch: while the session ends, waits (polling it and a stop request every 100 ms),
    // with one line when lineOpen is false. False when a stop is asked for.
    bool MayLaunch(bool lineOpen);
    // Before a restart that a heartbeat asks for: true while the session ends, with one line per
    // end of the session.
    bool RestartHeld();
    // Launches Tamrix until one signals its start, resetting the start event before each launch,
    // and ends every launched instance that did not answer.
    bool StartApplication();
    // Runs step; whatever it raises is written to the log as one "Fatal error: " line (the same
    // line at most once a minute) and dropped, so that supervision goes on. False when it raised.
    bool Survive(const std::function<void()>& step) noexcept;
    void ReportFatalError(const std::exception_ptr& error);

    TLog& FLog;
    TMetrics& FMetrics;
    std::unique_ptr<TIniFile> FIniFile;
    TSettings FSettings; // as loaded by the constructor
    // The start-up timeout that the restarts have learnt since; starts at the loaded value.
    std::uint32_t FStartupTimeout = 0;
    TClock& FClock;
    TSessionState& FSession;
    TSettingsLayers& FLayers;
    TCrashBackoff FBackoff;
    // A restart has been held during the current end of the session.
    bool FRestartHeld = false;
    // The hang whose restart was held after its lines, its counts, its dump and its close step
    // (the session began to end meanwhile), by the threads reported: resumed once the end is called
    // off, that restart goes on with the kill. Over when the heartbeats come back or Tamrix ends.
    std::optional<THungThreads> FHeldHang;
    // The acts on the Tamrix supervised.
    TApplication FApplication;
    TRepeatThrottle FFatalErrors{60000};
    std::atomic<bool> FClosing{false};
    std::atomic<bool> FEndBetweenPasses{false};
};
