// Whether the supervisor may launch Tamrix now, as a plain function of the session's state and
// of a stop request. No Windows headers.
#pragma once

#include <cstdint>

enum class TLaunchGate : std::uint8_t {
    Launch, // go on with the launch
    Hold,   // the session is ending: no launch; the first such answer of a wait, to be logged
    Wait,   // the session is still ending: go on waiting, without another line
    Stop,   // a stop was asked for while it waited: no launch at all
};

// sessionEnding: the session is signing out, restarting or shutting down, so that a Tamrix started
// now would only delay the end (or be ended by it). held: this wait has answered Hold already.
// Outside a session end a stop changes nothing here (the start-up wait answers it, as it always
// has); during one it ends the wait. A sign-out that is cancelled lets the launch go on.
TLaunchGate LaunchGate(bool sessionEnding, bool stopAsked, bool held) noexcept;
