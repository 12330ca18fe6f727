// The running executable's own path.
#pragma once

#include <string>

// The full path of the running executable, as the system reports it for the program's module.
// Raises EOSError when the system cannot tell.
std::string ModuleFileName();
