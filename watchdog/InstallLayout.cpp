#include "InstallLayout.h"

#include "Errors.h"
#include "Module.h"
#include "PathText.h"
#include "Unicode.h"
#include "WinApi.h"

#include <iterator>

std::string SettingsFileName() {
    return ChangeFileExt(ModuleFileName(), ".ini");
}

std::string SessionLogFileName(std::string_view userName, std::uint32_t sessionId) {
    std::string name(userName);
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
            c = '_';
    }
    return std::string(LogFolder) + "\\korvel-" + name + "-" + std::to_string(sessionId) + ".log";
}

std::string OwnLogFileName(bool perSession) {
    DWORD sessionId = 0;
    wchar_t user[257]; // UNLEN + 1
    DWORD length = static_cast<DWORD>(std::size(user));
    if (!perSession || !ProcessIdToSessionId(GetCurrentProcessId(), &sessionId) ||
        !GetUserNameW(user, &length))
        return LogFileName;
    return SessionLogFileName(Utf16ToUtf8(user), sessionId);
}

void EnterOwnDirectory() noexcept {
    try {
        const std::string directory(ExtractFileDir(ModuleFileName()));
        SetCurrentDirectoryW(Utf8ToUtf16(directory).c_str());
    } catch (...) {
    }
}

bool SameSystemFileName(std::string_view a, std::string_view b) {
    const std::wstring wideA = Utf8ToUtf16(a);
    const std::wstring wideB = Utf8ToUtf16(b);
    return CompareStringOrdinal(wideA.data(), static_cast<int>(wideA.size()), wideB.data(),
                                static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}
