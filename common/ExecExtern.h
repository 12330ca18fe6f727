// LaunchProgram: hands one program to the Windows shell and turns a refused launch into an
// EOSError. Never waits for the program; keeps no state, so any thread may call it.
//
// Both executables share this unit; each calls only its own form (the watchdog forms 1 and 2,
// tarrow form 3).
#pragma once

#include <cstdint>
#include <string>

// The watchdog's full form. parameters and directory may be nullptr: the shell then gets none and
// the program starts in the caller's current directory. Gives the shell's result (above 32).
// Raises EOSError with the thread's last error when the shell refuses.
std::uint32_t LaunchProgram(const std::string& fileName, const char* parameters,
                            const char* directory, std::int32_t showCode);

// The watchdog's short form: no parameters, no directory.
std::uint32_t LaunchProgram(const std::string& fileName, std::int32_t showCode);

// tarrow's form: parameters always reach the shell as text; an empty text stays "" and is never
// turned into "no parameters".
std::uint32_t LaunchProgram(const std::string& fileName, const std::string& parameters,
                            std::int32_t showCode);
