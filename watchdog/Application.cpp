#include "Application.h"

#include "Errors.h"
#include "FKorvelEvents.h"
#include "HangDump.h"
#include "HangSite.h"
#include "InstallLayout.h"
#include "KorvelProtocol.h"
#include "Module.h"
#include "MonitorText.h"
#include "PathText.h"
#include "ProcessGuard.h"
#include "ProcessWindows.h"
#include "ScopeExit.h"
#include "StackWalk.h"
#include "Unicode.h"
#include "WinApi.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The full path of the process's image; nothing, with the last error set, when the system cannot
// tell.
std::optional<std::string> ImagePath(HANDLE process) {
    wchar_t image[MAX_PATH * 4];
    DWORD length = MAX_PATH * 4;
    if (!QueryFullProcessImageNameW(process, 0, image, &length))
        return std::nullopt;
    return Utf16ToUtf8(std::wstring_view(image, length));
}

// WM_CLOSE to each top-level window of the process that its user's click could close: visible,
// enabled and owned by no other window. A main window disabled behind its modal "Save changes?"
// would ignore the click, and asking it anyway may end Tamrix in the middle of that question.
TCloseRequest PostCloseToWindows(std::uint32_t processId) noexcept {
    unsigned long error = ERROR_SUCCESS;
    std::vector<HWND> windows = ProcessWindows(processId, error);
    // Collected first, posted after: a window that goes while the list is walked changes nothing.
    std::erase_if(windows, [](HWND window) {
        return !IsWindowVisible(window) || !IsWindowEnabled(window) ||
               GetWindow(window, GW_OWNER) != nullptr;
    });
    TCloseRequest request{windows.size(), 0, error};
    for (HWND window : windows) {
        if (PostMessageW(window, WM_CLOSE, 0, 0))
            ++request.Asked;
        else
            request.Refusal = GetLastError();
    }
    return request;
}

// The processes of the list, with the image path of each process of ownSession that has Tamrix's
// file name, when it can be opened: the search of this session's Tamrix compares full paths.
std::vector<TSessionProcess> WithImagePaths(std::vector<TSessionProcess> processes,
                                            std::uint32_t ownSession) {
    const std::string_view expected = ExtractFileName(ApplicationFile);
    for (TSessionProcess& process : processes) {
        if (process.SessionId != ownSession || !SameSystemFileName(process.Name, expected))
            continue;
        const THandle opened(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.ProcessId));
        if (opened)
            process.ImagePath = ImagePath(opened.Get()).value_or("");
    }
    return processes;
}

// The full path of the Tamrix korvel launches, as the search compares images with it.
std::string ApplicationPath() {
    const std::wstring relative = Utf8ToUtf16(ApplicationFile);
    std::wstring full(MAX_PATH * 4, L'\0');
    const DWORD length =
        GetFullPathNameW(relative.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size())
        return {};
    return Utf16ToUtf8(std::wstring_view(full.data(), length));
}

} // namespace

TApplication::TApplication(TLog& log, TMetrics& metrics, TIniFile& iniFile,
                           const TSettings& settings, TClock& clock,
                           std::function<bool()> stopAsked, TProcessSessions& sessions,
                           const TSettingsLayers& layers)
    : FLog(log), FMetrics(metrics), FIniFile(iniFile), FSettings(settings), FClock(clock),
      FStopAsked(std::move(stopAsked)), FSessions(sessions), FLayers(layers) {}

TImageVerdict TApplication::CheckApplication(HANDLE process, std::uint32_t processId) {
    const std::optional<std::uint32_t> session = FSessions.SessionOf(processId);
    const std::optional<std::uint32_t> ownSession = FSessions.SessionOf(GetCurrentProcessId());
    if (!session || !ownSession)
        return ImageQueryFailed(GetLastError());
    const std::optional<std::string> image = ImagePath(process);
    if (!image)
        return ImageQueryFailed(GetLastError());
    return ImageVerdict(processId, *image, *session == *ownSession, SameSystemFileName);
}

void TApplication::BeginRestart() noexcept {
    FFollowed.Reset();
    FEnded.clear();
}

TApplication::TClosed TApplication::Close() {
    FLog.Write("Trying to close...", false);
    TRecorded recorded =
        OpenRecorded(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TNoIdReason::NoneRecorded);
    if (!recorded.Process)
        return TClosed::No;
    if (const std::optional<std::string> refused =
            CloseRequestRefusal(PostCloseToWindows(recorded.ProcessId))) {
        FLog.Write(*refused, true);
        return TClosed::No;
    }
    const std::uint32_t begin = FClock.Ticks();
    const std::uint32_t limit = FSettings.CloseTimeout * 1000;
    for (;;) {
        const std::uint32_t elapsed = FClock.Ticks() - begin;
        const DWORD wait = WaitForSingleObject(recorded.Process.Get(), 0);
        if (wait == WAIT_OBJECT_0) {
            FLog.Write("success", true);
            FEnded.push_back(std::move(recorded.Process));
            return TClosed::Yes;
        }
        if (FStopAsked()) {
            FLog.Write("Monitor terminated", true);
            return TClosed::Stopped;
        }
        if (wait == WAIT_FAILED) {
            FLog.Write("failed - " + SysErrorMessage(GetLastError()), true);
            return TClosed::No;
        }
        if (elapsed >= limit) {
            FLog.Write("failed - timed out", true);
            return TClosed::No;
        }
        FClock.Sleep(std::min<std::uint32_t>(100, limit - elapsed));
    }
}

void TApplication::Dump() {
    FLog.Write("Trying to dump...", false);
    // The kill's guard: a reused id must not have another program's memory written to disk.
    const TRecorded recorded =
        OpenRecorded(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION |
                         PROCESS_VM_READ | PROCESS_DUP_HANDLE,
                     TNoIdReason::NoneRecorded);
    if (!recorded.Process) {
        FMetrics.HangDumped(false);
        return;
    }
    try {
        const std::string name = WriteHangDump(recorded.Process.Get(), recorded.ProcessId,
                                               FSettings.HangDump, LogFolder);
        FLog.Write("success (" + name + ")", true);
        FMetrics.HangDumped(true);
    } catch (const EOSError& e) {
        FLog.Write("failed - " + ReasonText(e.ErrorCode()), true);
        FMetrics.HangDumped(false);
        return;
    }
    PruneHangDumps(LogFolder, FSettings.HangDumpKeep);
}

std::vector<std::string> TApplication::HangSite(bool mainThreadHang) noexcept {
    // How long the step may hold up the restart: its walk stops suspending threads and looking up
    // symbols then.
    constexpr std::uint32_t BudgetMs = 2000;
    constexpr std::string_view Prefix = "Hang site: ";
    THangSiteLines site;
    bool lineOpen = false;
    try {
        // The line is opened first, so that it comes right after the hang's, whatever another
        // thread writes meanwhile.
        FLog.Write(Prefix, false);
        lineOpen = true;
        std::string refusal;
        const TRecorded recorded = LocateRecorded(
            PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ,
            TNoIdReason::NoneRecorded, refusal);
        if (!recorded.Process) {
            site.Lines.push_back(HangSiteFailedLine(refusal));
        } else {
            site = HangSiteLinesOf(
                ReadHangStacks(recorded.Process.Get(), recorded.ProcessId,
                               mainThreadHang ? TStackScope::MainThread : TStackScope::AllThreads,
                               BudgetMs),
                mainThreadHang);
        }
        for (std::size_t i = 0; i < site.Lines.size(); ++i) {
            FLog.Write(i == 0 ? std::string_view(site.Lines[i]).substr(Prefix.size())
                              : std::string_view(site.Lines[i]),
                       true);
            lineOpen = false;
        }
        if (site.Site)
            FMetrics.HangSite(*site.Site);
    } catch (...) {
        // Memory, or the log itself failing: the restart goes on all the same, on a line of its
        // own.
        try {
            if (lineOpen)
                FLog.Write("failed - " + ReasonText(ERROR_NOT_ENOUGH_MEMORY), true);
        } catch (...) {
        }
    }
    return site.Lines;
}

void TApplication::Kill() {
    FLog.Write("Trying to kill...", false);
    TRecorded recorded =
        OpenRecorded(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                     TNoIdReason::SystemText);
    if (!recorded.Process) {
        FMetrics.KillFailed();
        return;
    }
    if (End(std::move(recorded.Process))) {
        FLog.Write("success", true);
        // Give the system time to tear the process down before its successor starts.
        FClock.Sleep(1000);
    } else {
        FLog.Write("failed - " + SysErrorMessage(GetLastError()), true);
        FMetrics.KillFailed();
    }
}

bool TApplication::End(THandle process) {
    if (!TerminateProcess(process.Get(), KorvelProtocol::KilledExitCode))
        return false;
    // TerminateProcess only starts the ending, and a single-instance Tamrix would refuse a
    // successor while the old one still exists.
    WaitForSingleObject(process.Get(), 10000);
    FEnded.push_back(std::move(process));
    return true;
}

void TApplication::Find() {
    FFollowed.Reset();
    FLookTick = FClock.Ticks();
    std::uint32_t processId = 0;
    try {
        processId = FLayers.ProcessId(FIniFile);
    } catch (const EIniFileException&) {
        // Held for longer: none is followed until the next look, a second from now.
        return;
    }
    if (processId == 0 && !FLayers.FindsUnrecorded())
        return;
    if (EndedByUs(processId))
        return;
    TLocated located = Locate(processId, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION);
    // A process that has ended already is not followed: only its id lingers in the file.
    if (located.Process && WaitForSingleObject(located.Process.Get(), 0) == WAIT_TIMEOUT &&
        !EndedByUs(located.ProcessId))
        FFollowed = std::move(located.Process);
}

bool TApplication::EndedByUs(std::uint32_t processId) const {
    return std::any_of(FEnded.begin(), FEnded.end(), [&](const THandle& ended) {
        return GetProcessId(ended.Get()) == processId;
    });
}

TApplication::TLocated TApplication::Locate(std::uint32_t processId, unsigned long rights) {
    if (processId == 0)
        return LocateUnrecorded(rights);
    std::string refusal;
    DWORD openRefusal = ERROR_SUCCESS;
    if (THandle process(OpenProcess(rights, FALSE, processId)); !process) {
        openRefusal = GetLastError();
        refusal = SysErrorMessage(openRefusal);
    } else {
        TImageVerdict verdict = CheckApplication(process.Get(), processId);
        if (verdict.IsApplication)
            return {processId, std::move(process), {}};
        refusal = std::move(verdict.Refusal);
    }
    // Only a process of another session has a stand-in (ChooseStandIn). One that is gone, or one
    // of this session, needs no list of every process on the machine, which restart_on_exit's
    // look-up for a refused id would otherwise take every second.
    const std::optional<std::uint32_t> ownSession = FSessions.SessionOf(GetCurrentProcessId());
    if (!ownSession || openRefusal == ERROR_INVALID_PARAMETER ||
        FSessions.SessionOf(processId) == ownSession)
        return {processId, THandle(), refusal};
    return OpenStandIn(processId,
                       ChooseStandIn(processId, refusal, *ownSession, ApplicationPath(),
                                     WithImagePaths(FSessions.Processes(), *ownSession),
                                     SameSystemFileName),
                       rights, refusal);
}

TApplication::TLocated TApplication::LocateUnrecorded(unsigned long rights) {
    const std::string refusal = "no process id recorded";
    const std::optional<std::uint32_t> ownSession = FSessions.SessionOf(GetCurrentProcessId());
    if (!ownSession)
        return {0, THandle(), refusal};
    return OpenStandIn(0,
                       ChooseByImage(refusal, *ownSession, ApplicationPath(),
                                     WithImagePaths(FSessions.Processes(), *ownSession),
                                     SameSystemFileName),
                       rights, refusal);
}

TApplication::TLocated TApplication::OpenStandIn(std::uint32_t processId, TStandIn standIn,
                                                 unsigned long rights, const std::string& refusal) {
    if (standIn.ProcessId == 0)
        return {processId, THandle(), std::move(standIn.Refusal)};
    // Opened again with the step's rights, and behind the same guard as a recorded process.
    THandle process(OpenProcess(rights, FALSE, standIn.ProcessId));
    if (process && CheckApplication(process.Get(), standIn.ProcessId).IsApplication)
        return {standIn.ProcessId, std::move(process), {}};
    return {processId, THandle(), refusal};
}

std::optional<std::uint32_t> TApplication::ExitCode(std::uint32_t now) {
    if (!FFollowed) {
        if (now - FLookTick >= 1000)
            Find();
        return std::nullopt;
    }
    if (WaitForSingleObject(FFollowed.Get(), 0) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD exitCode = 0;
    GetExitCodeProcess(FFollowed.Get(), &exitCode);
    FFollowed.Reset();
    // A normal end is never restarted, whichever thread sees what first. Tamrix signals its
    // shutdown before it ends; the main thread asks this thread to stop before it consumes that
    // signal. So, read in this order, one of the two shows.
    if (TKorvelEvents::KorvelEvents()->Shutdown().WaitFor(0) == WaitResult::Signaled)
        return std::nullopt;
    if (FStopAsked())
        return std::nullopt;
    return exitCode;
}

TApplication::TRecorded TApplication::OpenRecorded(unsigned long rights, TNoIdReason noIdReason) {
    std::string refusal;
    TRecorded recorded = LocateRecorded(rights, noIdReason, refusal);
    if (!recorded.Process)
        FLog.Write("failed - " + refusal, true);
    return recorded;
}

TApplication::TRecorded TApplication::LocateRecorded(unsigned long rights, TNoIdReason noIdReason,
                                                     std::string& refusal) {
    TRecorded recorded{0, THandle()};
    try {
        recorded.ProcessId = FLayers.ProcessId(FIniFile);
    } catch (const EIniFileException& e) {
        refusal = e.Message();
        return recorded;
    }
    if (recorded.ProcessId == 0 && !FLayers.FindsUnrecorded()) {
        // Nothing has failed here: the system text is that of whatever the settings read left
        // behind as the last error.
        refusal = noIdReason == TNoIdReason::SystemText ? SysErrorMessage(GetLastError())
                                                        : std::string("no process id recorded");
        return recorded;
    }
    TLocated located = Locate(recorded.ProcessId, rights);
    if (!located.Process) {
        refusal = std::move(located.Refusal);
        return recorded;
    }
    return {located.ProcessId, std::move(located.Process)};
}
