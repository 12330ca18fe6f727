// TStartupPlan: the start-up waits of one restart, as a plain value, so that the whole sequence
// (how many launches, how long in all, what is kept) is checked without launching anything.
#pragma once

#include <cstdint>
#include <optional>

// The restart gives up once a start-up wait would reach this many seconds; also the largest
// startup_timeout the settings file may hold.
inline constexpr std::uint32_t StartupTimeoutLimit = 20;

// The plan begins one second below what the last restart learnt (not below 1), so that the
// timeout creeps down while Tamrix starts quickly; each unanswered wait makes the next one a second
// longer, and the restart gives up when a wait would reach StartupTimeoutLimit.
class TStartupPlan {
public:
    explicit constexpr TStartupPlan(std::uint32_t learnt) noexcept
        : FWait(learnt > 1 ? learnt - 1 : learnt) {}

    // Seconds to wait for the start after the next launch; nothing when the restart is given up.
    constexpr std::optional<std::uint32_t> NextWait() const noexcept {
        if (FWait >= StartupTimeoutLimit)
            return std::nullopt;
        return FWait;
    }
    // The start did not come within the wait.
    constexpr void Unanswered() noexcept { ++FWait; }
    // The start-up timeout to keep for the next restart.
    constexpr std::uint32_t Learnt() const noexcept { return FWait; }

private:
    std::uint32_t FWait;
};
