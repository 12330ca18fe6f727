// Where korvel finds everything, in each of its two layouts. It makes its own folder the current
// directory at start, so that the relative names below rest on it wherever it was started from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The supervised application, one folder above korvel.
inline constexpr const char* ApplicationFile = "..\\Tamrix.exe";
// korvel's log folder, beside its own; korvel never creates it.
inline constexpr const char* LogFolder = "..\\logs";
inline constexpr const char* LogFileName = "..\\logs\\korvel.log";

// The log of one session, with [Log] per_session=1: "..\logs\korvel-<user>-<session id>.log", so
// that on a shared machine the korvel of each session writes a file of its own, and an
// administrator sees whose it is (the session id tells one user's two sessions apart). A character
// that no file name may hold becomes '_'.
std::string SessionLogFileName(std::string_view userName, std::uint32_t sessionId);

// The log korvel writes: LogFileName, or with perSession this session's own name. Where the
// system cannot tell the user or the session, LogFileName: a shared log rather than none.
std::string OwnLogFileName(bool perSession);

// The settings file: the executable's full path with its extension replaced by ".ini". Raises
// EOSError when the system cannot tell the path.
std::string SettingsFileName();

// Makes the executable's folder the current directory. A failure leaves the inherited one, which
// is all the program can do about it.
void EnterOwnDirectory() noexcept;

// Whether two file names are one, as the file system compares them: ordinal, letter case not
// compared, in any script.
using TSameFileName = bool (*)(std::string_view a, std::string_view b);
bool SameSystemFileName(std::string_view a, std::string_view b);

// The two layouts. SingleUser: korvel.ini beside korvel.exe is its user's own, written back at each
// start of Tamrix and where Tamrix records its process id. MachineWide: korvel runs in every user's
// session from a folder that only administrators may change, and korvel.ini is their policy, read
// only; what one user's korvel learns, and Tamrix records, goes to that user's own place
// (UserPlace.h).
enum class TLayout : std::uint8_t { SingleUser, MachineWide };

// Whether value, the machine-wide folder as the registry holds it, names folder: compared as the
// file system compares names, letter case not compared, a trailing backslash on either side
// ignored. An empty value names no folder.
bool NamesFolder(std::string_view value, std::string_view folder, TSameFileName sameFileName);

// korvel's own layout: MachineWide when the machine-wide folder value (KorvelProtocol.h) names the
// folder of korvel.exe, SingleUser otherwise (no value, another folder, the path unknown). Read
// once, at korvel's start.
TLayout OwnLayout();
