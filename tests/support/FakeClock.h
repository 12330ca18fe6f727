// TFakeClock: a TClock in virtual time. Ticks() gives a settable 32-bit counter and Sleep(ms) only
// advances it, so the thread base and the supervisor can be driven through hours, or across the
// 32-bit wrap, in no real time. Safe to use from several threads at once.
#pragma once

#include "Clock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

class TFakeClock final : public TClock {
public:
    explicit TFakeClock(std::uint32_t ticks = 0) noexcept : FTicks(ticks) {}

    std::uint32_t Ticks() override { return FTicks; }
    // Advances the counter by milliseconds (wrapping as GetTickCount does), counts the call, then
    // runs the sleep hook, if any, with the milliseconds asked for. What the hook raises leaves
    // Sleep: a test can use that to end a wait that would otherwise never end.
    void Sleep(std::uint32_t milliseconds) override;

    void SetTicks(std::uint32_t ticks) noexcept { FTicks = ticks; }
    // The machine sleeps or hibernates for milliseconds: the time passes for the world (Uptime)
    // but not in Ticks, which counts running time only.
    void Hibernate(std::uint32_t milliseconds) noexcept { FAsleep += milliseconds; }
    // Running time and time asleep together, as GetTickCount64 would count them.
    std::uint64_t Uptime() const noexcept { return FTicks + FAsleep; }
    // Number of Sleep calls so far.
    std::uint64_t SleepCount() const noexcept { return FSleepCount; }

    // Set it before any thread uses the clock; it runs on the thread that sleeps.
    void SetSleepHook(std::function<void(std::uint32_t milliseconds)> hook) {
        FSleepHook = std::move(hook);
    }

private:
    std::atomic<std::uint32_t> FTicks;
    std::atomic<std::uint64_t> FSleepCount{0};
    std::atomic<std::uint64_t> FAsleep{0};
    std::function<void(std::uint32_t)> FSleepHook;
};
