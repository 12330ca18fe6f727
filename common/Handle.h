// THandle: the one owner of a kernel handle (event, mutex, thread, process, file).
#pragma once

#include <utility>

// Move-only. Both NULL and INVALID_HANDLE_VALUE count as empty. Closing keeps the thread's last
// error, so a handle released on an error path never disturbs the code about to be reported.
class THandle {
public:
    THandle() noexcept = default;
    explicit THandle(void* handle) noexcept : FHandle(handle) {}
    ~THandle() { Reset(); }

    THandle(THandle&& other) noexcept : FHandle(other.Release()) {}
    THandle& operator=(THandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;

    void* Get() const noexcept { return FHandle; }
    bool IsValid() const noexcept { return IsValidHandle(FHandle); }
    explicit operator bool() const noexcept { return IsValid(); }

    // Gives up ownership without closing.
    [[nodiscard]] void* Release() noexcept { return std::exchange(FHandle, nullptr); }

    // Closes the handle held, if any, and takes the new one; the handle already held is kept as
    // it is.
    void Reset(void* handle = nullptr) noexcept;

    static bool IsValidHandle(void* handle) noexcept {
        return handle != nullptr && handle != reinterpret_cast<void*>(-1);
    }

private:
    void* FHandle = nullptr;
};
