// Whether the supervisor may launch or restart Tamrix now, as plain functions of the session's state
// and of a stop request. No Windows headers.
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

enum class TRestartGate : std::uint8_t {
    Restart, // go on with the restart a heartbeat asks for
    Hold,    // the session is ending: no restart; the first such answer of this end, to be logged
    Wait,    // the session is still ending: no restart, without another line
};

// Whether a heartbeat that stays away may start a restart (dump, close, kill, launch). During a
// sign-out Tamrix may stop its call stream first and still be saving its user's work: killing it
// then loses that work. held: this end of the session has answered Hold already. Once the end is
// cancelled the restart goes on, if the heartbeat still stays away.
TRestartGate RestartGate(bool sessionEnding, bool held) noexcept;
