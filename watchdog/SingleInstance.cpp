#include "SingleInstance.h"

#include "Errors.h"
#include "Handle.h"
#include "Unicode.h"
#include "WinApi.h"

namespace {
THandle InstanceMutex;
}

bool ClaimSingleInstance(const char* name) {
    const std::wstring wideName = Utf8ToUtf16(name);
    THandle mutex(CreateMutexW(nullptr, FALSE, wideName.c_str()));
    if (!mutex)
        RaiseLastOSError();
    // Read at once: a successful create still tells whether the name was taken.
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return false;
    InstanceMutex = std::move(mutex);
    return true;
}

void ReleaseSingleInstance() noexcept {
    InstanceMutex.Reset();
}
