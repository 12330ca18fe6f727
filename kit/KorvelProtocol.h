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

// The machine-wide layout, where korvel.ini is the administrators' policy and never written by
// the application or the watchdog: this REG_SZ value of HKEY_LOCAL_MACHINE (64-bit view) names
// the watchdog's folder (letter case and a trailing backslash aside). Set by the Windows Installer
// package or by an administrator; without it, or naming another folder, the single-user layout.
inline constexpr const char* MachineWideKey = "Software\\korvel";
inline constexpr const char* MachineWideFolderValue = "MachineWideFolder";

// The user's own place, in HKEY_CURRENT_USER (64-bit view). In the machine-wide layout, and
// wherever korvel.ini cannot be written, the application records its process id there, as the
// REG_DWORD ProcessIdKey of the volatile key <UserPlaceKey>\<SessionsKey>\<logon session id>: one
// per session of the user, gone with the sign-out or the restart that ends the process.
inline constexpr const char* UserPlaceKey = "Software\\korvel";
inline constexpr const char* SessionsKey = "Sessions";

// The watchdog terminates a hung application with this exit code.
inline constexpr unsigned KilledExitCode = 12345;

} // namespace KorvelProtocol
