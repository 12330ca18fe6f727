#include "InstallLayout.h"

#include "Errors.h"
#include "Module.h"
#include "PathText.h"
#include "WinApi.h"

std::string SettingsFileName() {
    return ChangeFileExt(ModuleFileName(), ".ini");
}

void EnterOwnDirectory() noexcept {
    try {
        const std::string directory(ExtractFileDir(ModuleFileName()));
        SetCurrentDirectoryA(directory.c_str());
    } catch (...) {
    }
}

TImageVerdict ImageVerdict(std::uint32_t processId, std::string_view imagePath, bool ownSession) {
    if (!ownSession)
        return {false, "process " + std::to_string(processId) + " runs in another logon session"};
    const std::string_view found = ExtractFileName(imagePath);
    const std::string_view expected = ExtractFileName(ApplicationFile);
    if (SameFileName(found, expected))
        return {true, {}};
    return {false, "process " + std::to_string(processId) + " is " + std::string(found) + ", not " +
                       std::string(expected)};
}

TImageVerdict ImageQueryFailed(std::uint32_t errorCode) {
    return {false, ReasonText(errorCode)};
}
