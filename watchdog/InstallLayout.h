// Where korvel finds everything. It makes its own folder the current directory at start, so that
// the relative names below rest on it wherever it was started from.
#pragma once

#include <string>

// The supervised application, one folder above korvel.
inline constexpr const char* ApplicationFile = "..\\Tamrix.exe";
// korvel's log folder, beside its own; korvel never creates it.
inline constexpr const char* LogFolder = "..\\logs";
inline constexpr const char* LogFileName = "..\\logs\\korvel.log";

// The settings file: the executable's full path with its extension replaced by ".ini". Raises
// EOSError when the system cannot tell the path.
std::string SettingsFileName();

// Makes the executable's folder the current directory. A failure leaves the inherited one, which
// is all the program can do about it.
void EnterOwnDirectory() noexcept;
