// The watchdog's main block: the single-instance guard, the log, and the loop that follows
// Tamrix's start and shutdown with one supervisor at a time.
#pragma once

inline constexpr const char* SingleInstanceName = "KorvelSingleInstance";
inline constexpr const char* LogFileName = "..\\logs\\korvel.log";

// Main thread; needs the process-wide event set. Gives 0 when the watchdog ends by itself (second
// instance, or auto_exit after a shutdown). An error that escapes the loop is passed on after the
// closing steps ("Korvel shut down." written, no supervisor left running).
int RunKorvel();
