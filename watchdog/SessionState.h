// TSessionState: whether the logon session korvel runs in is ending, and which sessions the machine
// has, behind an interface so that a test can end a session, which Wine never does.
// TProcessSessions: which logon session each process runs in, behind an interface so that a test
// can show korvel a process of another session, which Wine, with its one session, never has.
#pragma once

#include "ProcessGuard.h"

#include <cstdint>
#include <optional>
#include <vector>

// The ids of the sessions on this machine, signed in or disconnected, as the system lists them;
// nothing when it cannot tell. Any thread.
std::optional<std::vector<std::uint32_t>> MachineSessions();

class TSessionState {
public:
    virtual ~TSessionState() = default;
    // True from the moment a sign-out, restart or shutdown of this session begins until it is
    // cancelled. Any thread.
    virtual bool Ending() = 0;
    // The machine's sessions, as MachineSessions gives them: a test can name sessions that Wine,
    // with its one, never has. Any thread.
    virtual std::optional<std::vector<std::uint32_t>> Sessions() { return MachineSessions(); }
};

// The real state, asked of the system at each call. korvel has no window, so it never hears the
// end-session messages; the system metric tells without one.
TSessionState& SystemSession();

class TProcessSessions {
public:
    virtual ~TProcessSessions() = default;
    // The logon session that processId runs in; nothing, with the last error set, when the system
    // cannot tell (the process has gone, say). Supervisor thread.
    virtual std::optional<std::uint32_t> SessionOf(std::uint32_t processId) = 0;
    // Every session's processes with their sessions and image file names (ImagePath empty), as
    // the system lists them without opening any; empty when it cannot tell. Supervisor thread.
    virtual std::vector<TSessionProcess> Processes() = 0;
};

// The system's answers, asked at each call.
TProcessSessions& SystemProcessSessions();

// The logon session of korvel itself; 0 when the system cannot tell.
std::uint32_t OwnSessionId() noexcept;
