// One heartbeat pass of the supervisor as a plain function of its state, the time and what the
// polls of the events found, so that it is checked in virtual time and across the 32-bit tick
// wrap. No Windows headers.
#pragma once

#include "Settings.h"

#include <cstdint>

// What one zero-timeout poll of a heartbeat event found. A set event has been reset by the poll;
// a failed wait has been reported already.
enum class EventPoll : std::uint8_t { Set, Unset, Failed };

// The verdict on one heartbeat.
enum class HeartbeatState : std::uint8_t {
    Seen = 0,       // the event was set; its pulse time is recorded
    Overdue = 1,    // not set, and the window has elapsed since the last pulse
    InTime = 2,     // not set, still within the window
    EventError = 3, // the wait failed or was abandoned
};

// Seen and InTime mean alive; Overdue and EventError mean not responding.
constexpr bool IsResponding(HeartbeatState state) noexcept {
    return state == HeartbeatState::Seen || state == HeartbeatState::InTime;
}

// What the supervisor carries from pass to pass. Ticks are milliseconds of the supervisor's clock.
struct THeartbeats {
    std::uint32_t LastMainTick = 0;       // a main or busy pulse was last seen
    std::uint32_t LastCallStreamTick = 0; // a call-stream pulse was last seen
    // From a seen busy pulse to the next seen main pulse: both windows are busy_timeout long.
    bool Busy = false;

    // Fresh windows measured from now: at the start of supervision and after each restart. Busy is
    // kept, so an instance started while busy has the busy windows until its first main pulse.
    void Restart(std::uint32_t now) noexcept { LastMainTick = LastCallStreamTick = now; }
};

struct THeartbeatVerdict {
    HeartbeatState Main;
    HeartbeatState CallStream;
    bool Responding() const noexcept { return IsResponding(Main) && IsResponding(CallStream); }
};

// A timeout of whole seconds as a poll window: one pass (100 ms) of grace on top. The largest
// timeout, 86400 s, gives 86 400 100 ms, which fits 32 bits.
constexpr std::uint32_t WindowMs(std::uint32_t seconds) noexcept {
    return seconds * 1000 + 100;
}

// One pass at now. busy is ignored while heartbeats.Busy (the busy event is not polled then); a
// seen busy pulse counts as a main pulse and switches both windows to busy_timeout, and a main
// pulse seen in the same pass or later switches them back. Elapsed times are taken modulo 2^32, so
// a pulse seen just before the tick counter wraps keeps its full window.
THeartbeatVerdict HeartbeatPass(THeartbeats& heartbeats, std::uint32_t now,
                                const TSettings& settings, EventPoll busy, EventPoll main,
                                EventPoll callStream) noexcept;
