// The watchdog's main block: the log, and the loop that follows Tamrix's start and shutdown with
// one supervisor at a time.
#pragma once

inline constexpr const char* SingleInstanceName = "KorvelSingleInstance";

// Main thread, once this process holds the single-instance guard; needs the process-wide event
// set. Reads section Log of the settings once, before the first line. Gives 0 when the watchdog
// ends by itself (auto_exit after a shutdown). An error that escapes the loop is passed on after
// the closing steps ("Korvel shut down." written, no supervisor left running); EOSError from
// before the log exists (the settings path unknown) is passed on at once.
int RunKorvel();
