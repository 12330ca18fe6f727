// TApplication: the acts on the one Tamrix a supervisor looks after. It finds the process Tamrix
// recorded, opens it behind the guard (Tamrix's image, this logon session), dumps it, asks it to
// close, kills it and follows its end; each act writes its own step line and its outcome, and counts
// what it did. When to act, and in which order, is the supervisor's to decide.
//
// Threads: the supervisor's thread only. The log is shared (it has its own lock).
#pragma once

#include "Clock.h"
#include "Handle.h"
#include "IniFile.h"
#include "Log.h"
#include "Metrics.h"
#include "ProcessGuard.h"
#include "SessionState.h"
#include "Settings.h"
#include "SettingsLayers.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TApplication {
public:
    // settings, iniFile and layers must outlive this object; stopAsked tells whether the
    // supervisor has been asked to stop; sessions tells which logon session a process runs in;
    // layers where the process id is recorded.
    TApplication(TLog& log, TMetrics& metrics, TIniFile& iniFile, const TSettings& settings,
                 TClock& clock, std::function<bool()> stopAsked, TProcessSessions& sessions,
                 const TSettingsLayers& layers);

    // close_timeout: asks the recorded Tamrix (behind the kill's guard) to close, then waits up to
    // close_timeout for its end, seeing a stop request within 100 ms. "Trying to close..." and
    // its outcome; a closed instance is kept among those korvel ended.
    enum class TClosed : std::uint8_t { Yes, No, Stopped };
    TClosed Close();
    // hang_dump: "Trying to dump..." and its outcome, for the process the kill step will target.
    void Dump();
    // hang_stack, right after the hang's line and before any other act: where the recorded Tamrix
    // (behind the kill's guard) is stuck, as "Hang site: " lines (HangSiteLinesOf), and its site
    // counted. The lines are one step: no other thread's line comes between them. Gives the lines,
    // which the hang's event carries. Never raises.
    std::vector<std::string> HangSite(bool mainThreadHang) noexcept;
    // Terminates the process recorded in process_id, but only when it is Tamrix of this session.
    void Kill();
    // Ends process with Tamrix's kill code and waits for its end; keeps it among the instances
    // korvel ended. False, with the last error set, when it could not be terminated.
    bool End(THandle process);

    // restart_on_exit: follows the recorded Tamrix by a handle when it runs, is Tamrix, runs in
    // this session and is none that korvel itself ended (or, as each step does, its stand-in);
    // otherwise follows none.
    void Find();
    // restart_on_exit: the exit code of the followed Tamrix once it has ended without signalling
    // its shutdown; nothing while it runs or while none is followed (then looking again at most
    // once a second).
    std::optional<std::uint32_t> ExitCode(std::uint32_t now);

    // Before a restart by korvel: the followed instance is about to be closed or killed, so its end
    // is korvel's doing and never a crash; the instances ended before are let go.
    void BeginRestart() noexcept;
    // Before a relaunch after an end: the instances ended before are let go.
    void ForgetEnded() noexcept { FEnded.clear(); }

private:
    // What the kill, the dump and the close step act on: the process Tamrix recorded, opened with
    // rights, when it is Tamrix and runs in this logon session (or its stand-in, as Locate finds). For a step whose log line is open:
    // when there is none (no id recorded, the settings file held for longer, another program,
    // another session, a refused open), the line ends with "failed - " and the reason, and Process
    // stays empty. Without an id the kill step's reason has always been the system text of the
    // settings read's last error; the other steps say "no process id recorded". In the
    // machine-wide layout an id never recorded sends each step to LocateUnrecorded.
    struct TRecorded {
        std::uint32_t ProcessId;
        THandle Process;
    };
    enum class TNoIdReason : std::uint8_t { SystemText, NoneRecorded };
    TRecorded OpenRecorded(unsigned long rights, TNoIdReason noIdReason);
    // The same for a step that writes its lines itself: the reason is given, not written.
    TRecorded LocateRecorded(unsigned long rights, TNoIdReason noIdReason, std::string& refusal);
    // The process to act on for the recorded processId, opened with rights: the recorded one when it
    // is Tamrix of this session; when it is another session's Tamrix, this session's one found by
    // its image (ChooseStandIn). Otherwise an empty Process, and the refusal for the step's line.
    struct TLocated {
        std::uint32_t ProcessId;
        THandle Process;
        std::string Refusal;
    };
    TLocated Locate(std::uint32_t processId, unsigned long rights);
    // For an id never recorded where the layout records it (machine-wide): this session's one
    // Tamrix found by its image (ChooseByImage); "no process id recorded" when there is none.
    TLocated LocateUnrecorded(unsigned long rights);
    // The stand-in chosen for processId, opened with rights behind the guard; refusal when it
    // cannot be.
    TLocated OpenStandIn(std::uint32_t processId, TStandIn standIn, unsigned long rights,
                         const std::string& refusal);
    bool EndedByUs(std::uint32_t processId) const;
    // The guard of every step that acts on a recorded process: its image must be Tamrix's and it
    // must run in this logon session.
    TImageVerdict CheckApplication(void* process, std::uint32_t processId);

    TLog& FLog;
    TMetrics& FMetrics;
    TIniFile& FIniFile;
    const TSettings& FSettings;
    TClock& FClock;
    std::function<bool()> FStopAsked;
    TProcessSessions& FSessions;
    const TSettingsLayers& FLayers;
    // restart_on_exit: the Tamrix followed while one is known, and when it was last looked for.
    THandle FFollowed;
    std::uint32_t FLookTick = 0;
    // The instances the last restart killed or ended. Held open, so that their ids cannot be
    // reused while they are held: a look-up never takes one of them, even if it outlives its end.
    std::vector<THandle> FEnded;
};
