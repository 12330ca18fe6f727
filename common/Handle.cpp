#include "Handle.h"

#include "WinApi.h"

void THandle::Reset(void* handle) noexcept {
    void* old = std::exchange(FHandle, handle);
    if (IsValidHandle(old)) {
        const DWORD lastError = GetLastError();
        CloseHandle(old);
        SetLastError(lastError);
    }
}
