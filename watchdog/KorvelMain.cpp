#include "KorvelMain.h"

#include "EventLog.h"
#include "FKorvelEvents.h"
#include "IniFile.h"
#include "InstallLayout.h"
#include "Log.h"
#include "Metrics.h"
#include "Monitor.h"
#include "ScopeExit.h"
#include "Settings.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace {

// Waits without a time limit. The set is held for the length of the wait, so a rebuild on the
// supervisor thread cannot close the event under it; the kernel object stays the one that the
// rebuilt set opens again, so a signal given through the new set still ends this wait.
WaitResult WaitForEvent(TEventMember role, TLog& log, TMetrics& metrics) {
    const TKorvelEventsRef events = TKorvelEvents::KorvelEvents();
    TEvent& event = (*events.*role)();
    const WaitResult result = event.WaitFor(WaitInfinite);
    if (result != WaitResult::Signaled)
        TMonitor::ReportEventError(result, event, log, metrics);
    return result;
}

void RunMainLoop(TLog& log, TMetrics& metrics, std::unique_ptr<TMonitor>& monitor) {
    for (;;) {
        if (WaitForEvent(&TKorvelEvents::Startup, log, metrics) != WaitResult::Signaled)
            continue;
        log.Write("Process detected.", true);
        metrics.TamrixRunning(true);
        // Only after a failed wait for the shutdown is a supervisor still held here; two never
        // run at once.
        monitor.reset();
        monitor = std::make_unique<TMonitor>(log, metrics);

        WaitResult shutdown = WaitForEvent(&TKorvelEvents::Shutdown, log, metrics);
        // A Tamrix that korvel asked to close signals its shutdown as at any normal end; the
        // supervisor starts its successor.
        while (shutdown == WaitResult::Signaled && monitor->Closing()) {
            TKorvelEvents::KorvelEvents()->Shutdown().ResetEvent();
            shutdown = WaitForEvent(&TKorvelEvents::Shutdown, log, metrics);
        }
        if (shutdown != WaitResult::Signaled)
            continue;
        // Before the shutdown is consumed: a supervisor that then finds Tamrix gone must know that
        // the end was a normal one.
        monitor->Terminate();
        TKorvelEvents::KorvelEvents()->Shutdown().ResetEvent();
        log.Write("Shutdown detected.", true);
        const bool autoExit = monitor->AutoExit();
        monitor.reset();
        // Only once the supervisor has stopped: a restart it was finishing may have set it.
        metrics.TamrixRunning(false);

        // A start that is already set again is a new start, whatever auto_exit says.
        const WaitResult restarted = TKorvelEvents::KorvelEvents()->Startup().WaitFor(0);
        if (autoExit && restarted != WaitResult::Signaled)
            return;
    }
}

} // namespace

int RunKorvel() {
    EnterOwnDirectory();
    // Read once, before the first line: the log's bound applies from that line on.
    const TIniFile settingsFile(SettingsFileName());
    const TLogSettings logSettings = TLogSettings::Load(settingsFile);
    const TMetricsSettings metricsSettings = TMetricsSettings::Load(settingsFile);
    // Outlives the log, whose last line it may report.
    const TEventLog eventLog(logSettings.EventLog);
    TLog log(OwnLogFileName(logSettings.PerSession), true);
    log.SetRotation(std::uint64_t{logSettings.MaxSizeKb} * 1024, logSettings.Keep);
    if (logSettings.EventLog)
        log.SetLineObserver([&eventLog](std::string_view line) { eventLog.Report(line); });
    log.Write("Korvel started.", true);
    // The last line, on the way out of the loop and when an error passes out of it, even one of
    // the metrics writer's making.
    const TScopeExit closing([&] { log.Write("Korvel shut down.", true); });
    // Outlives the supervisor, and writes its last file (and any line about it) before the last
    // line.
    TMetrics metrics(log, metricsSettings.TextfileFolder);
    std::unique_ptr<TMonitor> monitor;
    const TScopeExit stopping([&] {
        monitor.reset();
        metrics.TamrixRunning(false);
    });
    RunMainLoop(log, metrics, monitor);
    return 0;
}
