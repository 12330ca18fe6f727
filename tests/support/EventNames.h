// The five event names of the protocol, written out here once rather than taken from
// kit/KorvelProtocol.h, so that a wrong name there shows up in a test. Header only: the test
// programs use it too.
#pragma once

// In the watchdog's order of creation: main thread, busy, startup, shutdown, call stream.
inline constexpr const char* TamrixEventNames[5] = {
    "TamrixMainThread", "TamrixMainThreadBusy", "TamrixStartup",
    "TamrixShutdown",   "TamrixCallStream",
};
