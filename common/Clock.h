// TClock: the supervisor's millisecond counter and its sleep, behind one interface so that the
// supervisor and the thread base can be driven in virtual time by tests (and across the 32-bit
// tick wrap).
#pragma once

#include <cstdint>

class TClock {
public:
    virtual ~TClock() = default;
    // Milliseconds of running time, 32-bit, wrapping after about 49.7 days. Time the machine
    // spends asleep or hibernating does not count: Tamrix's timers do not run then either, so a
    // heartbeat window measured across a sleep would see silence where there was none.
    virtual std::uint32_t Ticks() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// The real clock: the unbiased interrupt time and Sleep. Safe to use from any thread.
TClock& SystemClock();
