// Handing one program to the Windows shell, turning a refused launch into an EOSError. Nothing here
// waits for the program or keeps state, so any thread may call it.
//
// Both executables share this unit: the watchdog starts Tamrix with LaunchProcess, tarrow starts
// what its user names with the text form of LaunchProgram.
#pragma once

#include "Handle.h"

#include <cstdint>
#include <string>

// parameters and directory may be nullptr: the shell then gets none and the program starts in the
// caller's current directory. Gives the shell's result (above 32). Raises EOSError with the
// thread's last error when the shell refuses.
std::uint32_t LaunchProgram(const std::string& fileName, const char* parameters,
                            const char* directory, std::int32_t showCode);

// tarrow's form, for a program its user starts: parameters always reach the shell as text; an
// empty text stays "" and is never turned into "no parameters".
std::uint32_t LaunchProgram(const std::string& fileName, const std::string& parameters,
                            std::int32_t showCode);

// The watchdog's form, for a machine nobody watches: no parameters, no directory, and the shell
// may show nothing that waits for a person (no zone warning, no "Open with", no error box). Gives
// the process started, so that the caller can end it; an empty handle when the shell handed the
// file to a process that already ran. Raises EOSError with the thread's last error when the shell
// refuses. The calling thread must hold a TComApartment.
THandle LaunchProcess(const std::string& fileName, std::int32_t showCode);

// COM on the calling thread for the object's life, as the shell requires of a thread that
// launches through it. A thread that already had COM keeps it as it was.
class TComApartment {
public:
    TComApartment() noexcept;
    ~TComApartment();
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;

private:
    bool FInitialized;
};
