#include "ExecutableWatch.h"

#include "Handle.h"
#include "PathText.h"
#include "Unicode.h"
#include "WinApi.h"

TExecutableWatch::TExecutableWatch(const std::string& path) noexcept {
    try {
        FPath = Utf8ToUtf16(path);
        bool missing = false;
        if (!ReadId(FId, missing))
            return;
        // File names only: korvel.ini and the kit's writes change contents, and renaming the
        // executable aside, or a new one put in its place, changes a name.
        const HANDLE notification = FindFirstChangeNotificationW(
            Utf8ToUtf16(ExtractFileDir(path)).c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
        if (notification != INVALID_HANDLE_VALUE)
            FNotification = notification;
    } catch (...) {
        // Out of memory at start: no watch, as where the system refuses one.
    }
}

TExecutableWatch::~TExecutableWatch() {
    if (FNotification != nullptr)
        FindCloseChangeNotification(FNotification);
}

bool TExecutableWatch::Gone() noexcept {
    if (FNotification == nullptr || FGone)
        return FGone;
    // Armed again before the look: a change made while korvel looks signals the next wait.
    if (!FindNextChangeNotification(FNotification))
        return false;
    TFileId id;
    bool missing = false;
    if (ReadId(id, missing))
        FGone = !(id == FId);
    else
        FGone = missing;
    return FGone;
}

bool TExecutableWatch::ReadId(TFileId& id, bool& missing) const noexcept {
    missing = false;
    // No access to the contents, and every sharing: the look never stands in an installer's way.
    const THandle file(CreateFileW(FPath.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file.Get(), &information))
        return false;
    id.Volume = information.dwVolumeSerialNumber;
    id.Index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    return true;
}
