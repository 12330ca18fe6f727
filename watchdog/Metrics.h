// TMetrics: korvel's figures for a metrics collector. They live in memory under one lock, start at
// 0 with every korvel, and are written as <folder>\korvel-<session id>.prom for a textfile
// collector (windows_exporter) to publish.
//
// Threads: the event methods are called from the main thread and the supervisor thread; they only
// change the figures and wake the writer, never wait for a file. The writer is a thread of its own
// (a TBetterThread, stopped like the supervisor): it writes the file at once, after every change,
// at least every 60 s, and a last time when the object goes. Whatever refuses the file costs one
// "Metrics not written - <reason>" line, the same reason at most once a minute. An instance without
// a folder writes nothing and starts no thread, so its callers never ask whether metrics are on.
#pragma once

#include "Clock.h"
#include "Log.h"
#include "MetricsText.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

enum class THangThread : std::uint8_t { Main, CallStream };
enum class TRestartCause : std::uint8_t { Hang, Exit };

class TMetrics {
public:
    // Off.
    TMetrics() noexcept;
    // Main thread. Off when folder is empty; otherwise starts the writer. folder is a full path or
    // one relative to the current directory. clock times the repeats of a failure line. Raises
    // EThread when the thread cannot be created.
    TMetrics(TLog& log, const std::string& folder, TClock& clock = SystemClock());
    // Main thread. Stops the writer after its last write, however long that takes.
    ~TMetrics();
    TMetrics(const TMetrics&) = delete;
    TMetrics& operator=(const TMetrics&) = delete;

    // One process-wide instance that is off, for a supervisor built without metrics.
    static TMetrics& Off();

    // Any thread. One per event that the figures count.
    void TamrixRunning(bool running);
    void HangSeen(THangThread thread);
    // Also the time of the last restart.
    void RestartBegun(TRestartCause cause);
    // Also Tamrix no longer running.
    void RestartFailed();
    void KillFailed();
    void HangDumped(bool success);
    void SupervisorError();
    void StartupTimeout(std::uint32_t seconds);

    // Any thread. The figures as they stand; all zero while off.
    TMetricsFigures Figures();

private:
    class TWriter;
    template <class TChange> void Change(TChange change);

    std::mutex FLock;
    std::condition_variable FChanged; // a change, or a stop, for the writer
    TMetricsFigures FFigures;         // under FLock
    bool FUnwritten = false;          // under FLock: a change the writer has not taken yet
    std::unique_ptr<TWriter> FWriter; // empty while off
};
