// The supervisor's decisions as plain functions of state and time, so that they can be checked
// in virtual time and across the 32-bit tick wrap. No Windows headers.
#pragma once

#include <cstdint>

// The result of one heartbeat check.
enum class HeartbeatState : std::uint8_t {
    Seen = 0,       // the event was set; it has been reset and its pulse time recorded
    Overdue = 1,    // not set, and the window has elapsed since the last pulse
    InTime = 2,     // not set, still within the window
    EventError = 3, // the wait failed or was abandoned; already reported
};

// Seen and InTime mean alive; Overdue and EventError mean not responding.
constexpr bool IsResponding(HeartbeatState state) noexcept {
    return state == HeartbeatState::Seen || state == HeartbeatState::InTime;
}

// Overdue once window milliseconds have passed since lastTick. The subtraction wraps modulo 2^32,
// so a pulse seen just before the tick counter wraps keeps its full window.
constexpr HeartbeatState ElapsedState(std::uint32_t now, std::uint32_t lastTick,
                                      std::uint32_t window) noexcept {
    return static_cast<std::uint32_t>(now - lastTick) >= window ? HeartbeatState::Overdue
                                                                : HeartbeatState::InTime;
}

// A timeout of whole seconds as a poll window: one pass (100 ms) of grace on top. The largest
// timeout, 86400 s, gives 86 400 100 ms, which fits 32 bits.
constexpr std::uint32_t WindowMs(std::uint32_t seconds) noexcept {
    return seconds * 1000 + 100;
}

// The start-up timeout from which the restart begins: one second less than last time, not below 1.
constexpr std::uint32_t LoweredStartupTimeout(std::uint32_t seconds) noexcept {
    return seconds > 1 ? seconds - 1 : seconds;
}

// The restart gives up once a start-up wait would reach this many seconds.
inline constexpr std::uint32_t StartupTimeoutLimit = 20;
