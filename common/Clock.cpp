#include "Clock.h"

#include "WinApi.h"

namespace {

class TSystemClock final : public TClock {
public:
    std::uint32_t Ticks() override {
        // In 100 ns units, without the time spent in sleep or hibernation (GetTickCount counts
        // it). Cut to 32 bits, it wraps as GetTickCount does, and every window is taken modulo
        // 2^32.
        ULONGLONG interruptTime = 0;
        QueryUnbiasedInterruptTime(&interruptTime);
        return static_cast<std::uint32_t>(interruptTime / 10000);
    }
    void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

} // namespace

TClock& SystemClock() {
    static TSystemClock clock;
    return clock;
}
