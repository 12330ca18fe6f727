#include "FakeClock.h"

void TFakeClock::Sleep(std::uint32_t milliseconds) {
    FTicks += milliseconds;
    ++FSleepCount;
    if (FSleepHook)
        FSleepHook(milliseconds);
}
