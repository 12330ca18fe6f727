#include "ExecExtern.h"

#include "Errors.h"
#include "WinApi.h"

#include <shellapi.h>

#include <cstdint>

std::uint32_t LaunchProgram(const std::string& fileName, const char* parameters,
                            const char* directory, std::int32_t showCode) {
    // ShellExecuteA gives an HINSTANCE only for compatibility: it is an error code when it is 32 or
    // less. Its own value is never the error we report; the thread's last error is.
    const auto result = reinterpret_cast<std::uintptr_t>(
        ShellExecuteA(nullptr, nullptr, fileName.c_str(), parameters, directory, showCode));
    if (result <= 32)
        RaiseLastOSError();
    return static_cast<std::uint32_t>(result);
}

std::uint32_t LaunchProgram(const std::string& fileName, std::int32_t showCode) {
    return LaunchProgram(fileName, nullptr, nullptr, showCode);
}

std::uint32_t LaunchProgram(const std::string& fileName, const std::string& parameters,
                            std::int32_t showCode) {
    return LaunchProgram(fileName, parameters.c_str(), nullptr, showCode);
}
