// TCrashBackoff: how long korvel waits before it starts a Tamrix again that keeps ending soon after
// its start, as a plain value in milliseconds of the supervisor's clock, so that a crash loop is
// checked through hours, and across the 32-bit tick wrap, in no real time. No Windows headers.
#pragma once

#include <cstdint>

// An end less than this long after the start was signalled is a quick end.
inline constexpr std::uint32_t QuickEndMs = 60000;

// The first quick end is restarted at once; each further one in a row waits 1, 2, 4, 8, 16 and
// 32 s, then 60 s for every one after that, for as long as they go on: a Tamrix that crashes at
// start-up costs a few launches a minute instead of a launch every few hundred milliseconds, and
// is still brought back the moment its cause is gone. A Tamrix that ran QuickEndMs or longer
// begins a new count. A hang restart is a start like any other and leaves the count alone.
class TCrashBackoff {
public:
    // Tamrix signalled its start at now: it was detected, it answered a launch, or it was started
    // by someone else during a wait.
    void Started(std::uint32_t now) noexcept { FStartTick = now; }
    // Tamrix ended without signalling its shutdown at now. Gives the seconds to wait before the
    // next start (0: at once). Elapsed time is taken modulo 2^32, so a start just before the tick
    // counter wraps still counts from its own time.
    std::uint32_t Ended(std::uint32_t now) noexcept;

private:
    std::uint32_t FStartTick = 0;
    std::uint32_t FQuickEnds = 0; // in a row
};
