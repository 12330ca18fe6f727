#include "Log.h"

#include "Errors.h"
#include "FindFiles.h"
#include "LogRotation.h"
#include "LogText.h"
#include "Unicode.h"
#include "ScopeExit.h"
#include "WinApi.h"

#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr const char* OpenFailureText = "Error opening file.\r\nDisk full or write-protected?";
constexpr const char* CloseFailureText = "Error closing file.";

// How a file step names itself in its error: the action and the file.
std::string FileStep(const char* action, const std::string& fileName) {
    return std::string(action) + " \"" + fileName + "\"";
}

// The regional time separator in force when the program started. Read on first use and forced at
// load time below, so a later change of the regional settings does not show up halfway through a
// log, and a log written during static initialization still finds it.
const std::string& TimeSeparator() {
    static const std::string separator = [] {
        wchar_t buffer[16] = {};
        // LOCALE_STIME is deprecated in favour of LOCALE_STIMEFORMAT, but it is the separator
        // itself, which is all a fixed format needs. The count includes the terminating zero.
        const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, buffer, 16);
        if (length <= 1)
            return std::string(":");
        return Utf16ToUtf8(std::wstring_view(buffer, static_cast<std::size_t>(length - 1)));
    }();
    return separator;
}

[[maybe_unused]] const bool TimeSeparatorRead = !TimeSeparator().empty();

} // namespace

void TLog::TFileRecord::Assign(const std::string& name) {
    Handle.Reset();
    Buffer.clear();
    Name = name;
    WideName = Utf8ToUtf16(name);
}

bool TLog::TFileRecord::Exists() const {
    // A name the record cannot hold names no file the log could write, whatever the OS says.
    if (WideName.size() > MaxNameLength)
        return false;
    const DWORD attributes = GetFileAttributesW(WideName.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void TLog::TFileRecord::OpenWith(unsigned long access, unsigned long disposition,
                                 const char* action, void* security) {
    // A file left open by a Write whose pieces failed is closed first; its buffered text belonged
    // to that failed message and is dropped.
    Handle.Reset();
    Buffer.clear();
    if (WideName.size() > MaxNameLength)
        RaiseOSError(TOSFailure::File, ERROR_FILENAME_EXCED_RANGE, FileStep(action, Name));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
    THandle file(CreateFileW(WideName.c_str(), access, FILE_SHARE_READ,
                             security != nullptr ? &attributes : nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        RaiseLastOSError(TOSFailure::File, FileStep(action, Name));
    Handle = std::move(file);
}

void TLog::TFileRecord::Append() {
    OpenWith(GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, "Cannot open for appending");
    if (!SetFilePointerEx(Handle.Get(), LARGE_INTEGER{}, nullptr, FILE_END)) {
        Handle.Reset(); // keeps the last error
        RaiseLastOSError(TOSFailure::File, FileStep("Cannot move to the end of", Name));
    }
}

void TLog::TFileRecord::Rewrite(void* security) {
    OpenWith(GENERIC_WRITE, CREATE_ALWAYS, "Cannot create", security);
}

void TLog::TFileRecord::HandOver() {
    if (Buffer.empty())
        return;
    DWORD written = 0;
    const BOOL ok = WriteFile(Handle.Get(), Buffer.data(), static_cast<DWORD>(Buffer.size()),
                              &written, nullptr);
    // Either way the text is gone: a failed hand-over is not repeated by a later one.
    const DWORD code =
        ok ? (written == Buffer.size() ? 0 : ERROR_HANDLE_DISK_FULL) : GetLastError();
    Buffer.clear();
    if (code != 0)
        RaiseOSError(TOSFailure::File, code, FileStep("Cannot write to", Name));
}

std::uint64_t TLog::TFileRecord::Size() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(Handle.Get(), &size))
        return 0;
    return static_cast<std::uint64_t>(size.QuadPart);
}

void TLog::TFileRecord::WriteText(std::string_view text) {
    if (!Handle)
        throw EInOutError(FileStep("Cannot write to", Name) + ". The file is not open.");
    while (!text.empty()) {
        const std::size_t room = BufferSize - Buffer.size();
        const std::size_t part = text.size() < room ? text.size() : room;
        Buffer.append(text.substr(0, part));
        text.remove_prefix(part);
        if (Buffer.size() == BufferSize)
            HandOver();
    }
}

void TLog::TFileRecord::Close() {
    // A retry after a failed CloseHandle finds nothing open: that handle is gone all the same.
    if (!Handle)
        return;
    HandOver();
    if (!CloseHandle(Handle.Release()))
        RaiseLastOSError(TOSFailure::File, FileStep("Cannot close", Name));
}

TLog::TLog(std::string fileName, bool timestamps, TClock& clock)
    : FTimestamps(timestamps), FDateFormat("yyyy-mm-dd hh:nn:ss"), FClock(clock) {
    SetFileName(fileName);
}

void TLog::SetFileName(const std::string& fileName) {
    std::lock_guard lock(FWriteLock);
    if (fileName == FFileName)
        return;
    FFileName = fileName;
    FLineStart = true;
    FObservedLine.clear();
    FFile.Assign(FFileName);
}

void TLog::SetRotation(std::uint64_t maxBytes, std::uint32_t keep) {
    std::lock_guard lock(FWriteLock);
    FMaxBytes = maxBytes;
    FKeep = keep;
}

void TLog::MakeFilesPrivate() {
    auto security = std::make_unique<TPrivateFileSecurity>();
    std::lock_guard lock(FWriteLock);
    FPrivate = std::move(security);
}

void TLog::SetLineObserver(std::function<void(std::string_view)> observer) {
    std::lock_guard lock(FWriteLock);
    FLineObserver = std::move(observer);
}

bool TLog::Write(std::string_view message, bool lineEnd) {
    // The caller may log a failure before it reads or reports the code.
    const TKeepLastError keep;
    std::optional<std::string> completed;
    // After the lock is released: an observer that takes its time holds up no other thread's line.
    const TScopeExit observe([&] {
        if (completed && FLineObserver)
            FLineObserver(*completed);
    });
    std::lock_guard lock(FWriteLock);
    if (FLineObserver) {
        FObservedLine += message;
        if (lineEnd)
            completed = std::exchange(FObservedLine, {});
    }
    const bool written = WriteLocked(message, lineEnd);
    WriteHeldAside();
    return written;
}

bool TLog::WriteAside(std::string_view line) {
    const TKeepLastError keep;
    // After the lock is released, as for Write; whether the line is written now or held.
    const TScopeExit observe([&] {
        if (FLineObserver)
            FLineObserver(line);
    });
    std::lock_guard lock(FWriteLock);
    if (!FLineStart) {
        FAside.emplace_back(line);
        return true;
    }
    return WriteLocked(line, true);
}

bool TLog::WriteUnobserved(std::string_view line) {
    const TKeepLastError keep;
    std::lock_guard lock(FWriteLock);
    FObservedLine.clear();
    const bool written = WriteLocked(line, true);
    WriteHeldAside();
    return written;
}

void TLog::Observe(std::string_view text) {
    const TKeepLastError keep;
    if (FLineObserver)
        FLineObserver(text);
}

void TLog::WriteHeldAside() {
    while (FLineStart && !FAside.empty()) {
        const std::string line = std::move(FAside.front());
        FAside.erase(FAside.begin());
        try {
            WriteLocked(line, true);
        } catch (const EInOutError&) {
            // The writer of the line that just ended must not hear of another thread's line.
        }
    }
}

bool TLog::WriteLocked(std::string_view message, bool lineEnd) {
    if (!OpenForAppending())
        return false;
    const std::string timestamp = FLineStart && FTimestamps ? Timestamp() : std::string();
    const std::string text = LogEntryText(FPendingError, timestamp, message, lineEnd);
    if (FLineStart && FMaxBytes != 0 && RotationDue(FFile.Size(), text.size(), FMaxBytes)) {
        // Our own handle would refuse the rename; nothing is buffered yet.
        FFile.Assign(FFileName);
        Rotate();
        if (!OpenForAppending())
            return false;
    }
    // The marker fits the empty buffer of the freshly opened file, so it cannot fail to be
    // written: it counts as written from here on.
    FPendingError.clear();
    FFile.WriteText(text);
    FLineStart = lineEnd;
    return Retry([this] { FFile.Close(); }, CloseFailureText);
}

bool TLog::OpenForAppending() {
    if (!FFile.Exists() && !CreateLogFile())
        return false;
    return Retry([this] { FFile.Append(); }, OpenFailureText);
}

bool TLog::CreateLogFile() {
    void* const security = FPrivate ? FPrivate->Descriptor() : nullptr;
    if (!Retry([&] { FFile.Rewrite(security); }, OpenFailureText))
        return false;
    FFile.WriteText(LogEntryText({}, Timestamp(), "Log created", true));
    return Retry([this] { FFile.Close(); }, CloseFailureText);
}

void TLog::Rotate() {
    std::vector<std::string> found;
    for (TFoundFile& file : FindFiles(RotatedPattern(FFileName)))
        found.push_back(std::move(file.Name));
    const TRotationPlan plan = PlanRotation(FFileName, FKeep, found);
    // A surplus copy that another program holds is only one more file; the rotation goes on.
    for (const std::string& name : plan.Surplus)
        DeleteFileW(Utf8ToUtf16(name).c_str());
    for (const TRotationStep& step : plan.Chain) {
        // Never replacing a target: a copy that appeared since the listing is not overwritten.
        const std::wstring from = Utf8ToUtf16(step.From);
        const BOOL done = step.To.empty()
                              ? DeleteFileW(from.c_str())
                              : MoveFileExW(from.c_str(), Utf8ToUtf16(step.To).c_str(), 0);
        if (!done && GetLastError() != ERROR_FILE_NOT_FOUND)
            return;
    }
}

bool TLog::Retry(const std::function<void()>& step, const char* failureText) {
    for (std::uint32_t attempt = 1; attempt <= 5; ++attempt) {
        try {
            step();
            return true;
        } catch (const EInOutError&) {
            FPendingError = failureText;
        }
        FClock.Sleep((attempt + 1) * 100);
    }
    return false;
}

std::string TLog::Timestamp() const {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FormatTimestamp(FDateFormat,
                           {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond},
                           TimeSeparator());
}
