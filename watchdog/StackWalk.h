// Reading where a hung Tamrix is stuck: its threads' stacks, walked with dbghelp and named. The
// acts on the process only; what the stacks say, and the lines, are HangSite's.
//
// Each thread is suspended only for as long as it takes to read its registers and copy its stack;
// the walk runs on the copy after the thread has been resumed, and the names come last. A thread
// is resumed on every path, an error included; one that cannot be suspended is left alone.
// Symbols come from a PDB found in Tamrix's own folder only (no symbol server, nothing over the
// network), loaded before the first suspension; a frame that no PDB names is named from its
// module's exports, read from Tamrix's memory, or else as module+offset.
//
// Threads: the supervisor's thread only (dbghelp is not thread-safe; the dumps run there too).
#pragma once

#include "HangSite.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TStackScope : std::uint8_t {
    MainThread, // the thread that owns Tamrix's windows, or its first one
    AllThreads, // the main thread first, then the others, at most MaxHangThreads
};

// Supervisor thread. Walks the stacks of process (Tamrix, opened behind the guard with
// PROCESS_QUERY_INFORMATION and PROCESS_VM_READ). Only threads of processId are opened. Past
// budgetMs no further thread is suspended and no further symbol is looked up, so that the
// restart never waits long for it. Never raises: what fails is in the report.
TStackReport ReadHangStacks(void* process, std::uint32_t processId, TStackScope scope,
                            std::uint32_t budgetMs) noexcept;
