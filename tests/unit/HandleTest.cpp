// THandle: what it closes, and what it leaves alone.
#include "Handle.h"

#include "WinApi.h"

#include <gtest/gtest.h>

namespace {

bool IsOpen(void* handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(THandleTest, ResetWithTheHandleHeldKeepsItOpen) {
    THandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    void* const raw = event.Get();
    event.Reset(raw);
    EXPECT_TRUE(IsOpen(raw));
    EXPECT_EQ(event.Get(), raw);
}

TEST(THandleTest, ResetClosesTheOldHandleAndKeepsTheLastError) {
    THandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    void* const old = event.Get();
    SetLastError(ERROR_ACCESS_DENIED);
    event.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    SetLastError(ERROR_ACCESS_DENIED);
    event.Reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(IsOpen(old));
}

} // namespace
