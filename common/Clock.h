// TClock: the millisecond tick counter and the sleep, behind one interface so that the supervisor
// and the thread base can be driven in virtual time by tests (and across the 32-bit tick wrap).
#pragma once

#include <cstdint>

class TClock {
public:
    virtual ~TClock() = default;
    // Milliseconds since boot, 32-bit, wrapping after about 49.7 days (GetTickCount).
    virtual std::uint32_t Ticks() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// The real clock: GetTickCount and Sleep. Safe to use from any thread.
TClock& SystemClock();
