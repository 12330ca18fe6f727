// TMetrics: korvel's figures for a metrics collector. They live in memory under one lock, start at
// 0 with every korvel, and are written as <folder>\korvel-<session id>.prom for a textfile
// collector (windows_exporter) to publish.
//
// The file lives as long as its korvel, so that an old file means a korvel that was killed or
// crashed: korvel removes it when it ends by itself, and while its session is ending; a starting
// korvel removes the files of sessions that no longer exist and those written before this boot.
// The file names the user who wrote it, so that a given-up restart passes only to the next korvel
// of the same user.
//
// Threads: the event methods are called from the main thread and the supervisor thread; they only
// change the figures and wake the writer, never wait for a file. The writer is a thread of its own
// (a TBetterThread, stopped like the supervisor): it writes the file at once, after every change,
// at least every 60 s, and a last time when the object goes; it asks four times a second whether
// the session is ending. Whatever refuses the file costs one "Metrics not written - <reason>"
// line, the same reason at most once a minute. An instance without a folder writes nothing and
// starts no thread, so its callers never ask whether metrics are on.
#pragma once

#include "Clock.h"
#include "Log.h"
#include "MetricsText.h"
#include "SessionState.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

enum class THangThread : std::uint8_t { Main, CallStream };
enum class TRestartCause : std::uint8_t { Hang, Exit };

// Who writes the file, and since when the machine runs: what a starting korvel compares the files
// it finds with.
struct TMetricsOwner {
    std::string User;           // the SID of the user korvel runs as; empty: unknown
    std::uint64_t BootTime = 0; // when this boot began, Unix seconds
};
// This process's: its token's user, and the boot as the system clock less the time since boot.
TMetricsOwner ThisOwner();

class TMetrics {
public:
    // Off.
    TMetrics() noexcept;
    // Main thread. Off when folder is empty; otherwise starts the writer. folder is a full path or
    // one relative to the current directory. clock times the repeats of a failure line; session
    // tells when this session ends and which sessions the machine has; owner (ThisOwner() when
    // absent) is who writes. Raises EThread when the thread cannot be created.
    TMetrics(TLog& log, const std::string& folder, TClock& clock = SystemClock(),
             TSessionState& session = SystemSession(),
             const std::optional<TMetricsOwner>& owner = std::nullopt);
    // Main thread. Stops the writer after its last write, however long that takes. The file stays,
    // as a korvel that ends by an error leaves it, unless Withdraw came first.
    ~TMetrics();
    TMetrics(const TMetrics&) = delete;
    TMetrics& operator=(const TMetrics&) = delete;

    // Main thread, while no other thread counts: an instance that is off starts the writer on
    // folder, as the constructor does; the figures start then. Does nothing when folder is empty
    // or the writer runs already. For a folder that a held korvel.ini kept from korvel's start.
    void Start(TLog& log, const std::string& folder, TClock& clock = SystemClock(),
               TSessionState& session = SystemSession(),
               const std::optional<TMetricsOwner>& owner = std::nullopt);

    // One process-wide instance that is off, for a supervisor built without metrics.
    static TMetrics& Off();

    // Main thread, when korvel ends by itself. Stops the writer, which removes the file instead of
    // writing it a last time; after a given-up restart, though, the last file stays and says so
    // until Tamrix runs under a korvel again. Later events change nothing.
    void Withdraw();

    // Any thread. One per event that the figures count.
    // Running also ends a give-up.
    void TamrixRunning(bool running);
    void HangSeen(THangThread thread);
    // Also the time of the last restart.
    void RestartBegun(TRestartCause cause);
    // Also Tamrix no longer running, and given up.
    void RestartFailed();
    void KillFailed();
    void HangDumped(bool success);
    // hang_stack: one hang more at site (CountHangSite).
    void HangSite(std::string_view site);
    void SupervisorError();
    void StartupTimeout(std::uint32_t seconds);

    // Supervisor thread, at each poll pass and each step of a restart: the stamp that the file
    // shows from its next write on (within a minute; no write of its own).
    void Polled();
    // Supervisor thread, as its body ends: the file shows its own write time again.
    void PollsEnded();

    // Any thread. The figures as they stand; all zero while off.
    TMetricsFigures Figures();

private:
    class TWriter;
    template <class TChange> void Change(TChange change);

    std::mutex FLock;
    std::condition_variable FChanged; // a change, or a stop, for the writer
    TMetricsFigures FFigures;         // under FLock
    bool FUnwritten = false;          // under FLock: a change the writer has not taken yet
    bool FWithdrawn = false;          // under FLock: the writer's last act removes the file
    std::unique_ptr<TWriter> FWriter; // empty while off
};
