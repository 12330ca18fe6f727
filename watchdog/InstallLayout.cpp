#include "InstallLayout.h"

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
