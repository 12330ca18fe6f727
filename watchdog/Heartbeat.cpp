#include "Heartbeat.h"

namespace {

HeartbeatState Check(EventPoll poll, std::uint32_t now, std::uint32_t window,
                     std::uint32_t& lastTick) noexcept {
    switch (poll) {
    case EventPoll::Set:
        lastTick = now;
        return HeartbeatState::Seen;
    case EventPoll::Unset:
        return static_cast<std::uint32_t>(now - lastTick) >= window ? HeartbeatState::Overdue
                                                                    : HeartbeatState::InTime;
    case EventPoll::Failed:
        break;
    }
    return HeartbeatState::EventError;
}

} // namespace

THeartbeatVerdict HeartbeatPass(THeartbeats& heartbeats, std::uint32_t now,
                                const TSettings& settings, EventPoll busy, EventPoll main,
                                EventPoll callStream) noexcept {
    // Only a seen busy pulse counts: with window 0 an unset event is always overdue, and a failed
    // poll of it has been reported but asks for no restart.
    if (!heartbeats.Busy && Check(busy, now, 0, heartbeats.LastMainTick) == HeartbeatState::Seen)
        heartbeats.Busy = true;
    const auto window = [&](std::uint32_t timeout) {
        return WindowMs(heartbeats.Busy ? settings.BusyTimeout : timeout);
    };
    const THeartbeatVerdict verdict{
        Check(main, now, window(settings.MainTimeout), heartbeats.LastMainTick),
        Check(callStream, now, window(settings.CallStreamTimeout), heartbeats.LastCallStreamTick)};
    if (heartbeats.Busy && verdict.Main == HeartbeatState::Seen)
        heartbeats.Busy = false;
    return verdict;
}
