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

// The settings file: the executable's full path with its extension replaced by ".ini". Raises
// EOSError when the system cannot tell the path.
std::string SettingsFileName();

// Makes the executable's folder the current directory. A failure leaves the inherited one, which
// is all the program can do about it.
void EnterOwnDirectory() noexcept;

// Whether a process is Tamrix, for the kill step. Process ids are reused as soon as a process has
// gone: after a crash or a reboot the recorded id may name any other program of the user's.
struct TImageVerdict {
    bool IsApplication = false;
    std::string Refusal; // why the process is left alone; empty for Tamrix
};

// From the image path the system gave for the process: Tamrix when the file name is
// ApplicationFile's, in any letter case and from any folder (its user may have started it from
// elsewhere).
TImageVerdict ImageVerdict(std::uint32_t processId, std::string_view imagePath);

// When the system could not tell the image: never Tamrix. The refusal is the system's text for
// the error, or names the code when the system has none.
TImageVerdict ImageQueryFailed(std::uint32_t errorCode);
