#include "Metrics.h"

#include "BetterThread.h"
#include "Errors.h"
#include "FindFiles.h"
#include "Handle.h"
#include "KorvelVersion.h"
#include "PrivateFile.h"
#include "Throttle.h"
#include "Unicode.h"
#include "WinApi.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

namespace {

// A healthy korvel rewrites the file this often even when nothing changes, so that an old update
// time means it is gone; after a refused write it tries again sooner.
constexpr std::chrono::seconds RewriteInterval{60};
constexpr std::chrono::seconds RetryInterval{5};
// Windows ends a windowless korvel at a sign-out without a word, once the programs with windows
// have closed: asked this often, the session's end is seen well before that.
constexpr std::chrono::milliseconds SessionPollInterval{250};
constexpr std::uint32_t FailureRepeatMs = 60000;

std::uint64_t UnixTime() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

// A file time (100 ns units since 1601) in Unix seconds; 0 for any time before 1970.
std::uint64_t UnixFromFileTime(std::uint64_t fileTime) {
    constexpr std::uint64_t UnixEpoch = 116444736000000000;
    return fileTime < UnixEpoch ? 0 : (fileTime - UnixEpoch) / 10000000;
}

// When the file was last written, in Unix seconds; nothing when there is no such file.
std::optional<std::uint64_t> WriteTime(const std::string& fileName) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Utf8ToUtf16(fileName).c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return UnixFromFileTime((std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                            data.ftLastWriteTime.dwLowDateTime);
}

// The user's SID as text; empty when the token cannot tell.
std::string ThisUser() {
    try {
        return Utf16ToUtf8(OwnUserSid());
    } catch (const EOSError&) {
        return {};
    }
}

// How long a rename or a removal that a reader of the file holds off is tried again, and how often.
constexpr std::uint32_t HeldRetryMs = 1000;
constexpr std::uint32_t HeldRetryPauseMs = 50;

// Runs act until it succeeds. A collector that has the file open refuses a rename or a removal
// for as long as it reads (access denied or a sharing violation): that is tried again for up to a
// second before it counts as a failure. False with the last error set.
template <class TAct> bool WhileNotHeld(TClock& clock, TAct act) {
    const std::uint32_t start = clock.Ticks();
    for (;;) {
        if (act())
            return true;
        const DWORD code = GetLastError();
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) ||
            clock.Ticks() - start >= HeldRetryMs)
            return false;
        clock.Sleep(HeldRetryPauseMs);
    }
}

bool ReplaceFile(const std::wstring& tempName, const std::wstring& fileName, TClock& clock) {
    return WhileNotHeld(clock, [&] {
        return MoveFileExW(tempName.c_str(), fileName.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    });
}

// The start of the file, or nothing when there is none or it cannot be read.
std::string ReadFileStart(const std::string& fileName) {
    const THandle file(CreateFileW(Utf8ToUtf16(fileName).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text(64 * 1024, '\0');
    DWORD read = 0;
    if (!file ||
        !ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr))
        read = 0;
    text.resize(read);
    return text;
}

// True also when there is no such file.
bool RemoveFile(const std::string& fileName, TClock& clock) {
    const std::wstring wide = Utf8ToUtf16(fileName);
    return WhileNotHeld(
        clock, [&] { return DeleteFileW(wide.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; });
}

// The files that korvels of sessions gone from this machine, or of an earlier boot, left in folder
// (which ends in a separator): killed with their session, or by a power loss, they could not remove
// them. Only names that korvel writes.
void RemoveLeftFiles(const std::string& folder, std::uint32_t ownSession, std::uint64_t bootTime,
                     TSessionState& state, TClock& clock) {
    std::optional<std::vector<std::uint32_t>> sessions = state.Sessions();
    // Whatever the list says: Wine's lists no session at all.
    if (sessions)
        sessions->push_back(ownSession);
    for (const TFoundFile& file : FindFiles(folder + "korvel-*.prom"))
        if (IsLeftBehind(file.Name, UnixFromFileTime(file.WriteTime), bootTime, sessions))
            RemoveFile(folder + file.Name, clock);
}

// Writes text under tempName, then moves it over fileName, so that a collector reading fileName
// finds the old file or the new one, never half of one. Raises EOSError; a failed write leaves no
// temporary file behind.
void PublishFile(const std::string& fileName, const std::string& tempName, const std::string& text,
                 TClock& clock) {
    const std::wstring wideTemp = Utf8ToUtf16(tempName);
    try {
        {
            THandle file(CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file)
                RaiseLastOSError();
            DWORD written = 0;
            if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written,
                           nullptr))
                RaiseLastOSError();
            if (written != text.size())
                RaiseOSError(TOSFailure::Call, ERROR_HANDLE_DISK_FULL);
            // On the disk before the rename: a power loss must leave the old file or the new,
            // never a renamed empty one.
            if (!FlushFileBuffers(file.Get()))
                RaiseLastOSError();
        }
        if (!ReplaceFile(wideTemp, Utf8ToUtf16(fileName), clock))
            RaiseLastOSError();
    } catch (const EOSError&) {
        DeleteFileW(wideTemp.c_str());
        throw;
    }
}

} // namespace

class TMetrics::TWriter final : public TBetterThread {
public:
    TWriter(TMetrics& owner, TLog& log, std::string folder, std::uint32_t session,
            std::uint64_t bootTime, std::string fileName, TClock& clock,
            TSessionState& sessionState)
        : FOwner(owner), FLog(log), FFolder(std::move(folder)), FSession(session),
          FBootTime(bootTime), FFileName(std::move(fileName)), FTempName(FFileName + ".tmp"),
          FClock(clock), FSessionState(sessionState) {}
    // The body uses the fields below up to its last write.
    ~TWriter() override { Stop(-1); }

protected:
    void Execute() override;
    void WakeUp() override {
        const std::lock_guard lock(FOwner.FLock);
        FOwner.FChanged.notify_all();
    }

private:
    bool Write(const std::string& text);

    TMetrics& FOwner;
    TLog& FLog;
    const std::string FFolder; // ends in a separator
    const std::uint32_t FSession;
    const std::uint64_t FBootTime; // Unix seconds
    const std::string FFileName;
    // Beside the file, so that the move is a rename; not ending in ".prom", so no collector takes
    // it for a file of its own.
    const std::string FTempName;
    TClock& FClock;
    TSessionState& FSessionState;
    // Each reason once a minute: a folder that stays missing costs one line, not one per change.
    TRepeatThrottle FFailures{FailureRepeatMs};
};

void TMetrics::TWriter::Execute() {
    TBetterThread::Execute();
    RemoveLeftFiles(FFolder, FSession, FBootTime, FSessionState, FClock);
    using TSteady = std::chrono::steady_clock;
    TSteady::time_point due = TSteady::now(); // of the next write when nothing changes
    bool removed = false;                     // while the session ends
    std::unique_lock lock(FOwner.FLock);
    for (;;) {
        // Taken before the write: a stop asked for during it still gets a write after it, so the
        // last file shows the figures as korvel ended.
        const bool last = Terminated();
        const bool changed = std::exchange(FOwner.FUnwritten, false);
        const bool withdrawn = FOwner.FWithdrawn;
        TMetricsFigures figures = FOwner.FFigures;
        lock.unlock();
        if (FSessionState.Ending() || (withdrawn && !figures.TamrixGivenUp)) {
            // Once: a change while the session ends waits for an end that is cancelled.
            removed = removed || RemoveFile(FFileName, FClock);
        } else if (changed || last || removed || TSteady::now() >= due) {
            figures.LastUpdate = UnixTime();
            removed = false;
            due = TSteady::now() + (Write(MetricsText(figures)) ? RewriteInterval : RetryInterval);
        }
        lock.lock();
        if (last)
            return;
        FOwner.FChanged.wait_for(
            lock, std::min<TSteady::duration>(due - TSteady::now(), SessionPollInterval),
            [&] { return FOwner.FUnwritten || Terminated(); });
    }
}

bool TMetrics::TWriter::Write(const std::string& text) {
    std::string reason;
    try {
        PublishFile(FFileName, FTempName, text, FClock);
        return true;
    } catch (const EOSError& e) {
        reason = ReasonText(e.ErrorCode());
    }
    try {
        if (FFailures.Allow(reason, FClock.Ticks()))
            FLog.WriteAside("Metrics not written - " + reason);
    } catch (...) {
        // Out of memory, or the log itself is failing: there is nowhere left to tell.
    }
    return false;
}

TMetrics::TMetrics() noexcept = default;

TMetricsOwner ThisOwner() {
    return {ThisUser(), UnixTime() - GetTickCount64() / 1000};
}

TMetrics::TMetrics(TLog& log, const std::string& folder, TClock& clock, TSessionState& session,
                   const std::optional<TMetricsOwner>& owner) {
    Start(log, folder, clock, session, owner);
}

void TMetrics::Start(TLog& log, const std::string& folder, TClock& clock, TSessionState& session,
                     const std::optional<TMetricsOwner>& owner) {
    if (folder.empty() || FWriter)
        return;
    DWORD sessionId = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &sessionId))
        RaiseLastOSError();
    const TMetricsOwner self = owner ? *owner : ThisOwner();
    FFigures.User = self.User;
    FFigures.Session = std::to_string(sessionId);
    FFigures.Version = KORVEL_VERSION_TEXT;
    FFigures.StartTime = UnixTime();
    const char last = folder.back();
    const std::string separator = last == '\\' || last == '/' || last == ':' ? "" : "\\";
    // The session in the name: the korvels of several sessions may share one folder.
    std::string fileName = folder + separator + "korvel-" + FFigures.Session + ".prom";
    // A korvel of this session that gave up and then ended left its file saying so. The logon task
    // starts korvel again within minutes: the give-up lasts until Tamrix runs, not until then.
    const std::optional<std::uint64_t> written = WriteTime(fileName);
    FFigures.TamrixGivenUp =
        written && TakesGiveUpOver(ReadFileStart(fileName), *written, self.User, self.BootTime);
    FWriter = std::make_unique<TWriter>(*this, log, folder + separator, sessionId, self.BootTime,
                                        std::move(fileName), clock, session);
    FWriter->Resume();
}

TMetrics::~TMetrics() {
    // The writer reads the figures up to its last write: it goes before they do.
    FWriter.reset();
}

void TMetrics::Withdraw() {
    if (!FWriter)
        return;
    {
        const std::lock_guard lock(FLock);
        FWithdrawn = true;
    }
    FWriter.reset();
}

TMetrics& TMetrics::Off() {
    static TMetrics off;
    return off;
}

template <class TChange> void TMetrics::Change(TChange change) {
    if (!FWriter)
        return;
    {
        const std::lock_guard lock(FLock);
        change(FFigures);
        FUnwritten = true;
    }
    FChanged.notify_all();
}

void TMetrics::TamrixRunning(bool running) {
    Change([&](TMetricsFigures& figures) {
        figures.TamrixRunning = running;
        figures.TamrixGivenUp = figures.TamrixGivenUp && !running;
    });
}

void TMetrics::HangSeen(THangThread thread) {
    Change([&](TMetricsFigures& figures) {
        ++(thread == THangThread::Main ? figures.MainHangs : figures.CallStreamHangs);
    });
}

void TMetrics::RestartBegun(TRestartCause cause) {
    const std::uint64_t now = UnixTime();
    Change([&](TMetricsFigures& figures) {
        ++(cause == TRestartCause::Hang ? figures.HangRestarts : figures.ExitRestarts);
        figures.LastRestart = now;
    });
}

void TMetrics::RestartFailed() {
    Change([](TMetricsFigures& figures) {
        ++figures.RestartFailures;
        figures.TamrixRunning = false;
        figures.TamrixGivenUp = true;
    });
}

void TMetrics::KillFailed() {
    Change([](TMetricsFigures& figures) { ++figures.KillFailures; });
}

void TMetrics::HangDumped(bool success) {
    Change([&](TMetricsFigures& figures) {
        ++(success ? figures.DumpSuccesses : figures.DumpFailures);
    });
}

void TMetrics::HangSite(std::string_view site) {
    Change([&](TMetricsFigures& figures) { CountHangSite(figures.HangSites, site); });
}

void TMetrics::SupervisorError() {
    Change([](TMetricsFigures& figures) { ++figures.SupervisorErrors; });
}

void TMetrics::StartupTimeout(std::uint32_t seconds) {
    Change([&](TMetricsFigures& figures) { figures.StartupTimeout = seconds; });
}

void TMetrics::Polled() {
    if (!FWriter)
        return;
    const std::uint64_t now = UnixTime();
    const std::lock_guard lock(FLock);
    FFigures.LastPoll = now;
}

void TMetrics::PollsEnded() {
    if (!FWriter)
        return;
    const std::lock_guard lock(FLock);
    FFigures.LastPoll = 0;
}

TMetricsFigures TMetrics::Figures() {
    const std::lock_guard lock(FLock);
    return FFigures;
}
