// The names that korvel and the application it supervises (Tamrix) agree on. Both sides include
// this header, so the protocol is written down exactly once.
#pragma once

namespace KorvelProtocol {

// Five named, manual-reset kernel events. Plain names: they are seen within one logon session.
// The watchdog creates them unset when missing; whoever comes first creates, the other opens.
inline constexpr const char* MainThreadEvent = "TamrixMainThread";         // main thread alive
inline constexpr const char* MainThreadBusyEvent = "TamrixMainThreadBusy"; // long operation ahead
inline constexpr const char* StartupEvent = "TamrixStartup";               // the application runs
inline constexpr const char* ShutdownEvent = "TamrixShutdown";             // the application ends
inline constexpr const char* CallStreamEvent = "TamrixCallStream";         // call stream alive

// Where the application records its process id: the watchdog's INI file (korvel.ini beside
// korvel.exe), this section and key, as a decimal number.
inline constexpr const char* ApplicationSection = "Application";
inline constexpr const char* ProcessIdKey = "process_id";

// The watchdog terminates a hung application with this exit code.
inline constexpr unsigned KilledExitCode = 12345;

} // namespace KorvelProtocol
