#include "InstallLayout.h"

#include "Errors.h"
#include "KorvelProtocol.h"
#include "Module.h"
#include "PathText.h"
#include "Registry.h"
#include "Unicode.h"
#include "WinApi.h"

#include <iterator>
#include <optional>

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

bool NamesFolder(std::string_view value, std::string_view folder, TSameFileName sameFileName) {
    const auto withoutSeparator = [](std::string_view path) {
        if (!path.empty() && path.back() == '\\')
            path.remove_suffix(1);
        return path;
    };
    value = withoutSeparator(value);
    return !value.empty() && sameFileName(value, withoutSeparator(folder));
}

TLayout OwnLayout() {
    try {
        const std::optional<std::string> folder =
            ReadRegistryText(TRegistryRoot::LocalMachine, KorvelProtocol::MachineWideKey,
                             KorvelProtocol::MachineWideFolderValue);
        if (folder && NamesFolder(*folder, ExtractFileDir(ModuleFileName()), SameSystemFileName))
            return TLayout::MachineWide;
    } catch (const EOSError&) {
        // korvel's own path unknown: no folder to compare, and everything as in a layout of one.
    }
    return TLayout::SingleUser;
}
