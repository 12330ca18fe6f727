// TMonitor: the supervisor thread, the acts around the decisions of Heartbeat and StartupPlan.
// While Tamrix runs it polls the heartbeat events every 100 ms, and when one stays away too long it
// kills Tamrix (with close_timeout, after asking it to close when only the call stream hung),
// relaunches it and waits for its start.
//
// Threads: the main thread constructs and destroys it and reads AutoExit; everything else runs on
// the supervisor's own thread. The log is shared (it has its own lock); the events are fetched from
// the process-wide set at each use.
#pragma once

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
    // Main thread. Loads the settings from the file beside the executable (writing each back) and
    // starts the thread. Raises EIniFileException when a setting cannot be written back; the
    // thread then never runs its body. metrics counts what it does.
    explicit TMonitor(TLog& log, TMetrics& metrics = TMetrics::Off());
    // The same on a given settings file, clock and session.
    TMonitor(TLog& log, std::string settingsFileName, TClock& clock,
             TMetrics& metrics = TMetrics::Off(), TSessionState& session = SystemSession());
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
    // What the kill, the dump and the close step act on: the process Tamrix recorded, opened with
    // rights, when it is Tamrix and runs in this logon session. For a step whose log line is open:
    // when there is none (no id recorded, the settings file held for longer, another program, another
    // session, a refused open), the line ends with "failed - " and the reason, and Process stays
    // empty. Without an id the kill step's reason has always been the system text of the settings
    // read's last error; the other steps say "no process id recorded".
    struct TRecordedProcess {
        std::uint32_t ProcessId;
        THandle Process;
    };
    enum class TNoIdReason : std::uint8_t { SystemText, NoneRecorded };
    TRecordedProcess OpenRecordedApplication(unsigned long rights, TNoIdReason noIdReason);
    // close_timeout: asks the recorded Tamrix (behind the kill's guard) to close, then waits up to
    // close_timeout for its end, seeing a stop request within 100 ms. "Trying to close..." and
    // its outcome; a closed instance is kept among those korvel ended.
    enum class TClosed : std::uint8_t { Yes, No, Stopped };
    TClosed CloseApplication();
    // Asks Tamrix to close first when closeFirst, kills it unless it closed, then relaunches it.
    // False when the restart failed; nothing when a stop came during the close.
    std::optional<bool> RestartApplication(bool closeFirst);
    // restart_on_exit, after "Process ended with exit code N.": waits as the crash back-off says,
    // then relaunches. The wait ends without a launch when a stop is asked for or when a Tamrix
    // started by someone else signals its start, which is then the one supervised.
    enum class TAfterExit : std::uint8_t { Relaunched, Failed, StartedElsewhere, Stopped };
    TAfterExit RestartAfterExit(std::uint32_t now);
    // hang_dump: "Trying to dump..." and its outcome, for the process the kill step will target.
    void DumpApplication();
    // restart_on_exit: follows the recorded Tamrix by a handle when it runs, is Tamrix, runs in
    // this session and is none that korvel itself ended; otherwise follows none.
    void FindApplication();
    // restart_on_exit: the exit code of the followed Tamrix once it has ended without signalling
    // its shutdown; nothing while it runs or while none is followed (then looking again at most
    // once a second).
    std::optional<std::uint32_t> ApplicationExitCode(std::uint32_t now);
    // Ends process with Tamrix's kill code and waits for its end; keeps it among the instances
    // korvel ended. False, with the last error set, when it could not be terminated.
    bool EndApplication(THandle process);
    // Writes the learnt start-up timeout back, the restart "Restart failed." line, and signals the
    // shutdown, which is set whatever fails on the way.
    void GiveUp();
    // Terminates the process recorded in process_id, but only when it is Tamrix of this session.
    void KillApplication();
    // Before a launch: while the session ends, waits (polling it and a stop request every 100 ms),
    // with one line when lineOpen is false. False when a stop is asked for.
    bool MayLaunch(bool lineOpen);
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
    TCrashBackoff FBackoff;
    // restart_on_exit: the Tamrix followed while one is known, and when it was last looked for.
    THandle FApplication;
    std::uint32_t FApplicationLookTick = 0;
    // The instances the last restart killed or ended. Held open, so that their ids cannot be
    // reused while they are held: a look-up never takes one of them, even if it outlives its end.
    std::vector<THandle> FEnded;
    TRepeatThrottle FFatalErrors{60000};
    std::atomic<bool> FClosing{false};
};
