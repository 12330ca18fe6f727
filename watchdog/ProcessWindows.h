// The top-level windows of one process, for the acts that reach Tamrix through its windows (the
// request to close) or tell its threads apart by them (the main thread of a hang site).
#pragma once

#include "WinApi.h"

#include <cstdint>
#include <vector>

// The process's top-level windows as the system lists them at the call, visible or not. error
// becomes ERROR_NOT_ENOUGH_MEMORY when the list could not be kept whole; what was found by then
// is given. Never raises: nothing may unwind through the system's frames of the enumeration.
std::vector<HWND> ProcessWindows(std::uint32_t processId, unsigned long& error) noexcept;
