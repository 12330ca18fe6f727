#include "CrashBackoff.h"

namespace {

// The waits of the second to the seventh quick end in a row; every later one waits the last.
constexpr std::uint32_t Waits[] = {1, 2, 4, 8, 16, 32, 60};
constexpr std::uint32_t WaitCount = sizeof Waits / sizeof Waits[0];

} // namespace

std::uint32_t TCrashBackoff::Ended(std::uint32_t now) noexcept {
    if (static_cast<std::uint32_t>(now - FStartTick) >= QuickEndMs) {
        FQuickEnds = 0;
        return 0;
    }
    // Stops counting at the last wait, so the count can never wrap back to "first".
    if (FQuickEnds <= WaitCount)
        ++FQuickEnds;
    return FQuickEnds == 1 ? 0 : Waits[FQuickEnds - 2];
}
