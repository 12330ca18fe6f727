// Where korvel finds everything. It makes its own folder the current directory at start, so that
// the relative names below rest on it wherever it was started from.
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
