#include "Clock.h"

#include "WinApi.h"

namespace {

class TSystemClock final : public TClock {
public:
    std::uint32_t Ticks() override { return GetTickCount(); }
    void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

} // namespace

TClock& SystemClock() {
    static TSystemClock clock;
    return clock;
}
