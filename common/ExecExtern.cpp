#include "ExecExtern.h"

#include "Errors.h"
#include "Unicode.h"
#include "WinApi.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstdint>

std::uint32_t LaunchProgram(const std::string& fileName, const char* parameters,
                            const char* directory, std::int32_t showCode) {
    // ShellExecuteW gives an HINSTANCE only for compatibility: it is an error code when it is 32 or
    // less. Its own value is never the error we report; the thread's last error is.
    const auto result = reinterpret_cast<std::uintptr_t>(
        ShellExecuteW(nullptr, nullptr, Utf8ToUtf16(fileName).c_str(),
                      parameters ? Utf8ToUtf16(parameters).c_str() : nullptr,
                      directory ? Utf8ToUtf16(directory).c_str() : nullptr, showCode));
    if (result <= 32)
        RaiseLastOSError();
    return static_cast<std::uint32_t>(result);
}

std::uint32_t LaunchProgram(const std::string& fileName, const std::string& parameters,
                            std::int32_t showCode) {
    return LaunchProgram(fileName, parameters.c_str(), nullptr, showCode);
}

THandle LaunchProcess(const std::string& fileName, std::int32_t showCode) {
    const std::wstring file = Utf8ToUtf16(fileName);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // NOASYNC: the launch is finished when the call returns, since the thread may end right after.
    info.fMask =
        SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS | SEE_MASK_NOASYNC;
    info.lpFile = file.c_str();
    info.nShow = showCode;
    if (!ShellExecuteExW(&info))
        RaiseLastOSError();
    return THandle(info.hProcess);
}

TComApartment::TComApartment() noexcept
    // No OLE 1 DDE: the shell would otherwise run a hidden window that this thread never pumps.
    : FInitialized(
          SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}

TComApartment::~TComApartment() {
    if (FInitialized)
        CoUninitialize();
}
