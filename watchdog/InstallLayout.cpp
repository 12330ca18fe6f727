#include "InstallLayout.h"

#include "Errors.h"
#include "Module.h"
#include "PathText.h"
#include "Unicode.h"
#include "WinApi.h"

std::string SettingsFileName() {
    return ChangeFileExt(ModuleFileName(), ".ini");
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

TImageVerdict ImageVerdict(std::uint32_t processId, std::string_view imagePath, bool ownSession,
                           TSameFileName sameFileName) {
    if (!ownSession)
        return {false, "process " + std::to_string(processId) + " runs in another logon session"};
    const std::string_view found = ExtractFileName(imagePath);
    const std::string_view expected = ExtractFileName(ApplicationFile);
    if (sameFileName(found, expected))
        return {true, {}};
    return {false, "process " + std::to_string(processId) + " is " + std::string(found) + ", not " +
                       std::string(expected)};
}

TImageVerdict ImageQueryFailed(std::uint32_t errorCode) {
    return {false, ReasonText(errorCode)};
}
