#include "Handle.h"

#include "Errors.h"
#include "WinApi.h"

void THandle::Reset(void* handle) noexcept {
    // Taking the handle already held must not close it under the new owner's feet.
    if (handle == FHandle)
        return;
    void* old = std::exchange(FHandle, handle);
    if (IsValidHandle(old)) {
        const TKeepLastError keep;
        CloseHandle(old);
    }
}
