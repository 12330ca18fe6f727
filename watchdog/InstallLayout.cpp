#include "InstallLayout.h"

#include "Errors.h"
#include "Module.h"
#include "PathText.h"
#include "WinApi.h"

#include <algorithm>

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

namespace {

// ASCII letters only: the names compared are Tamrix's own, and a byte of another code page is
// never the same letter in another case.
bool SameFileName(std::string_view a, std::string_view b) noexcept {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

TImageVerdict ImageVerdict(std::uint32_t processId, std::string_view imagePath) {
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
