#include "KorvelMain.h"

#include "EventLog.h"
#include "ExecutableWatch.h"
#include "FKorvelEvents.h"
#include "IniFile.h"
#include "InstallLayout.h"
#include "LastChance.h"
#include "Log.h"
#include "Metrics.h"
#include "Module.h"
#include "Monitor.h"
#include "ScopeExit.h"
#include "SessionState.h"
#include "Settings.h"
#include "SettingsLayers.h"
#include "UserPlace.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

// The text of the error box as one log line: the box's line breaks would start lines without a
// timestamp, which no reader of the log could tell from korvel's own.
std::string ErrorBoxLine(std::string_view text) {
    std::string line = "Application Error: ";
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find("\r\n", at), text.size());
        if (at != 0)
            line += ' ';
        line.append(text.substr(at, end - at));
        at = end + 2;
    }
    return line;
}

// error_box=0: the report goes where someone will read it later, and korvel ends at once. The log
// and the event log are opened afresh: the main block's own are gone by the time the error has
// passed out of it.
void ReportErrorsUnattended(const std::string& logFileName, bool eventLog, bool privateLog) {
    SetUnattendedReport([logFileName, eventLog, privateLog](const std::string& text) {
        try {
            const std::string line = ErrorBoxLine(text);
            const TEventLog events(eventLog);
            events.Report(line);
            TLog log(logFileName, true);
            if (privateLog)
                log.MakeFilesPrivate();
            log.Write(line, true);
        } catch (...) {
            // Nowhere left to tell; the exit code still does.
        }
    });
}

// What ended a wait of the main thread: its event, a failed wait (reported), or the other handle.
enum class TWake : std::uint8_t { Event, Failed, Other };

// Waits without a time limit for the event, and for other beside it when that is not null. The set
// is held for the length of the wait, so a rebuild on the supervisor thread cannot close the event
// under it; the kernel object stays the one that the rebuilt set opens again, so a signal given
// through the new set still ends this wait.
TWake WaitForEvent(TEventMember role, TLog& log, TMetrics& metrics, void* other) {
    const TKorvelEventsRef events = TKorvelEvents::KorvelEvents();
    TEvent& event = (*events.*role)();
    bool otherFirst = false;
    const WaitResult result = event.WaitForEither(other, otherFirst);
    if (result != WaitResult::Signaled) {
        TMonitor::ReportEventError(result, event, log, metrics);
        return TWake::Failed;
    }
    return otherFirst ? TWake::Other : TWake::Event;
}

// What the keys of section Log govern, from this line on: the log's name and bound, the event log
// and the error box. Before korvel's first line, and again for keys that a held korvel.ini kept
// from korvel's start; those were the defaults then, so an event log or a report without a box is
// only ever turned on here, never off.
void ApplyLogSettings(const TLogSettings& settings, bool privateLog, TLog& log,
                      std::optional<TEventLog>& eventLog) {
    const std::string logFileName = OwnLogFileName(settings.PerSession);
    log.SetFileName(logFileName);
    log.SetRotation(std::uint64_t{settings.MaxSizeKb} * 1024, settings.Keep);
    if (settings.EventLog && !eventLog) {
        eventLog.emplace(true);
        log.SetLineObserver([&eventLog](std::string_view line) { eventLog->Report(line); });
    }
    if (!settings.ErrorBox)
        ReportErrorsUnattended(logFileName, settings.EventLog, privateLog);
}

// korvel's executable was renamed aside by an upgrade or a removal: this korvel ends, at a moment
// when no restart is under way, and the logon task starts the new one (or none). A supervisor
// still held ends after its current pass; Tamrix runs on meanwhile.
void Leave(TLog& log, std::unique_ptr<TMonitor>& monitor) {
    if (monitor) {
        monitor->EndBetweenPasses();
        monitor->WaitFor();
        monitor.reset();
    }
    log.Write("Korvel's executable was replaced or removed.", true);
}

// readLateStartKeys runs at each start of Tamrix while no supervisor runs.
void RunMainLoop(TLog& log, TMetrics& metrics, std::unique_ptr<TMonitor>& monitor,
                 TExecutableWatch& watch, TSettingsLayers& layers,
                 const std::function<void()>& readLateStartKeys) {
    for (;;) {
        const TWake start = WaitForEvent(&TKorvelEvents::Startup, log, metrics, watch.Changed());
        if (start == TWake::Other && watch.Gone())
            return Leave(log, monitor);
        if (start != TWake::Event)
            continue;
        // Aside: a supervisor left running by a failed wait may have a step line open.
        log.WriteAside("Process detected.");
        // Only after a failed wait for the shutdown is a supervisor still held here; two never
        // run at once.
        monitor.reset();
        readLateStartKeys();
        metrics.TamrixRunning(true);
        monitor = std::make_unique<TMonitor>(log, metrics, layers);

        // Once korvel's executable is gone, the shutdown is waited for beside the supervisor's end
        // between two passes.
        bool leaving = false;
        TWake shutdown = TWake::Failed;
        for (;;) {
            shutdown = WaitForEvent(&TKorvelEvents::Shutdown, log, metrics,
                                    leaving ? monitor->Ended() : watch.Changed());
            // A Tamrix that korvel asked to close signals its shutdown as at any normal end; the
            // supervisor starts its successor.
            if (shutdown == TWake::Event && monitor->Closing()) {
                TKorvelEvents::KorvelEvents()->Shutdown().ResetEvent();
                continue;
            }
            if (shutdown == TWake::Other && !leaving) {
                if (watch.Gone()) {
                    leaving = true;
                    monitor->EndBetweenPasses();
                }
                continue;
            }
            break;
        }
        if (shutdown == TWake::Other)
            return Leave(log, monitor);
        if (shutdown != TWake::Event)
            continue;
        // Before the shutdown is consumed: a supervisor that then finds Tamrix gone must know that
        // the end was a normal one.
        monitor->Terminate();
        TKorvelEvents::KorvelEvents()->Shutdown().ResetEvent();
        // The supervisor may be in the middle of a restart step: its line ends first.
        log.WriteAside("Shutdown detected.");
        const bool autoExit = monitor->AutoExit();
        monitor.reset();
        // Only once the supervisor has stopped: a restart it was finishing may have set it.
        metrics.TamrixRunning(false);

        if (leaving)
            return Leave(log, monitor);
        // A start that is already set again is a new start, whatever auto_exit says.
        const WaitResult restarted = TKorvelEvents::KorvelEvents()->Startup().WaitFor(0);
        if (autoExit && restarted != WaitResult::Signaled)
            return;
    }
}

} // namespace

int RunKorvel() {
    // First: the file korvel runs from is the one at its path now, before an installer could
    // rename it aside.
    TExecutableWatch watch(ModuleFileName());
    EnterOwnDirectory();
    TSettingsLayers layers(OwnLayout(), TUserPlace(), OwnSessionId());
    // A log folder that every user's korvel writes into.
    const bool privateLog = layers.Layout() == TLayout::MachineWide;
    // Read once, before the first line: the log's bound applies from that line on. Whatever holds
    // the file, korvel starts.
    const TIniFile settingsFile(SettingsFileName());
    const TLoaded<TStartSettings> start = layers.LoadStart(settingsFile);
    // Outlives the log, whose last line it may report.
    std::optional<TEventLog> eventLog;
    TLog log(OwnLogFileName(start.Settings.Log.PerSession), true);
    if (privateLog)
        log.MakeFilesPrivate();
    ApplyLogSettings(start.Settings.Log, privateLog, log, eventLog);
    log.Write("Korvel started.", true);
    for (const std::string& line : start.Lines)
        log.Write(line, true);
    // The last line, on the way out of the loop and when an error passes out of it, even one of
    // the metrics writer's making.
    const TScopeExit closing([&] { log.Write("Korvel shut down.", true); });
    // Outlives the supervisor, and writes its last file (and any line about it) before the last
    // line.
    TMetrics metrics(log, start.Settings.Metrics.TextfileFolder);
    std::unique_ptr<TMonitor> monitor;
    const TScopeExit stopping([&] {
        monitor.reset();
        metrics.TamrixRunning(false);
    });
    RunMainLoop(log, metrics, monitor, watch, layers, [&] {
        if (const auto late = layers.LoadLateStart(settingsFile)) {
            ApplyLogSettings(late->Settings.Log, privateLog, log, eventLog);
            for (const std::string& line : late->Lines)
                log.Write(line, true);
            metrics.Start(log, late->Settings.Metrics.TextfileFolder);
        }
    });
    // Ended by itself: an old file would read as a korvel that was killed.
    metrics.Withdraw();
    return 0;
}
