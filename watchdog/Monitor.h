// TMonitor: the supervisor thread. While Tamrix runs it polls the heartbeat events every 100 ms,
// and when one stays away too long it kills Tamrix, relaunches it and waits for its start.
#pragma once

#include "BetterThread.h"
#include "Clock.h"
#include "FKorvelEvents.h"
#include "Heartbeat.h"
#include "IniFile.h"
#include "Log.h"

#include <cstdint>
#include <memory>
#include <string>

class TMonitor : public TBetterThread {
public:
    // Main thread. Loads the settings from the file beside the executable (writing each back) and
    // starts the thread. Raises EIniFileException when a setting cannot be written back; the
    // thread then never runs its body.
    explicit TMonitor(TLog& log);
    // The same on a given settings file, tick source and sleep.
    TMonitor(TLog& log, std::string settingsFileName, TClock& clock);
    // Main thread. Stops the thread without a time limit (a restart under way runs to the end of
    // its current start-up wait), then releases the settings file.
    ~TMonitor() override;

    // auto_exit as read when this supervisor was created. Written only by the constructor, so the
    // main thread may read it while the thread runs.
    bool AutoExit() const noexcept { return FAutoExit; }

    // Any thread, with or without a supervisor. For a wait that was abandoned or failed (or an
    // unknown outcome): writes one "Fatal error: " line and rebuilds the process-wide event set.
    // Signaled and TimedOut do nothing at all. Raises EOSError when the set cannot be rebuilt.
    static void ReportEventError(WaitResult result, const TEvent& event, TLog& log);

    // The executable's full path with its extension replaced by ".ini".
    static std::string SettingsFileName();

    // Settings in force, in seconds (tests and diagnostics read them).
    std::uint32_t StartupTimeout() const noexcept { return FStartupTimeout; }
    std::uint32_t MainTimeout() const noexcept { return FMainTimeout; }
    std::uint32_t BusyTimeout() const noexcept { return FBusyTimeout; }
    std::uint32_t CallStreamTimeout() const noexcept { return FCallStreamTimeout; }

protected:
    void Execute() override;

    // Supervisor thread (the settings operations also run on the main thread, in the constructor).
    // Reads one timeout of section Options, clamps it (lower bound first, upper bound last, as
    // unsigned), stores it and writes it back. Raises EIniFileException on a refused write.
    void ReadSetting(std::uint32_t& value, const char* name, std::uint32_t defaultValue,
                     std::uint32_t min, std::uint32_t max);
    // The five options of section Options, in their fixed order.
    void LoadSettings();
    // The process id Tamrix recorded: the low 32 bits of process_id; 0 for none or any error.
    std::uint32_t ReadProcessId() noexcept;

    HeartbeatState CheckEvent(TEvent& event, std::uint32_t now, std::uint32_t window,
                              std::uint32_t& lastTick);
    std::uint32_t EffectiveTimeout(bool busy, std::uint32_t timeout) const noexcept {
        return busy ? FBusyTimeout : timeout;
    }
    bool RestartApplication();
    // Terminates the process recorded in process_id, but only when its image is Tamrix's.
    void KillApplication();
    bool StartApplication();

private:
    static std::string CheckApplicationImage(void* process, std::uint32_t processId);

    TLog& FLog;
    std::unique_ptr<TIniFile> FIniFile;
    std::uint32_t FStartupTimeout = 20;
    std::uint32_t FMainTimeout = 60;
    std::uint32_t FBusyTimeout = 5400;
    std::uint32_t FCallStreamTimeout = 60;
    bool FAutoExit = true;
    TClock& FClock;
};
