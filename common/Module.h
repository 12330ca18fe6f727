// The running executable's own path, and where it loads DLLs from.
#pragma once

#include <string>

// The full path of the running executable, as the system reports it for the program's module.
// Raises EOSError when the system cannot tell.
std::string ModuleFileName();

// Main thread, first thing in WinMain. DLLs loaded by name from then on (what the shell, a message
// box or COM load at run time) come from the system folder only, never from the program's own
// folder, which its users may be able to write. Without the call (Windows 7 lacking update
// KB2533623) the search stays as it was.
void RestrictDllSearchToSystem() noexcept;
