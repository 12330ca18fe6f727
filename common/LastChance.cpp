#include "LastChance.h"

#include "Errors.h"
#include "Module.h"
#include "PathText.h"
#include "Unicode.h"
#include "WinApi.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace {

std::function<void(const std::string&)>& UnattendedReport() {
    static std::function<void(const std::string&)> report;
    return report;
}

std::string HexOffset(std::uint32_t codeOffset) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(codeOffset));
    return digits;
}

// The report must come up even when the module path cannot be read: an empty name then.
std::string ExecutableName() noexcept {
    try {
        return std::string(ExtractFileName(ModuleFileName()));
    } catch (...) {
        return std::string();
    }
}

} // namespace

std::string UnhandledErrorText(std::string_view className, std::string_view moduleName,
                               std::uint32_t codeOffset, std::string_view message) {
    std::string text = "Exception ";
    text.append(className);
    text += " in module ";
    text.append(moduleName);
    text += " at ";
    text += HexOffset(codeOffset);
    text += ".\r\n";
    text.append(message);
    if (message.empty() || message.back() != '.')
        text += '.';
    text += "\r\n";
    return text;
}

std::string StartupErrorText(std::uint32_t codeOffset) {
    return "Runtime error 217 at " + HexOffset(codeOffset);
}

std::uint32_t ImageOffset(const void* address) noexcept {
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr));
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - base);
}

void SetUnattendedReport(std::function<void(const std::string& text)> report) {
    UnattendedReport() = std::move(report);
}

int ReportUnhandledError(const Exception& error) noexcept {
    try {
        const std::string text = UnhandledErrorText(error.ClassName(), ExecutableName(),
                                                    ImageOffset(error.Address()), error.Message());
        if (UnattendedReport()) {
            UnattendedReport()(text);
            return 1;
        }
        MessageBoxW(nullptr, Utf8ToUtf16(text).c_str(), L"Application Error",
                    MB_OK | MB_ICONERROR | MB_TASKMODAL);
    } catch (...) {
        // Out of memory while building the text: the exit code still tells.
    }
    return 1;
}

int RunMainBlock(int (*mainBlock)()) {
    try {
        return mainBlock();
    } catch (const Exception& error) {
        return ReportUnhandledError(error);
    } catch (const std::exception& error) {
        return ReportUnhandledError(Exception(error.what()));
    }
}

int ReportStartupError(const void* address) noexcept {
    try {
        const std::string text = StartupErrorText(ImageOffset(address));
        MessageBoxW(nullptr, Utf8ToUtf16(text).c_str(), L"Error", MB_OK);
    } catch (...) {
    }
    return 217;
}
