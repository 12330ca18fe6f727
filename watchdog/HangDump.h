// Hang dumps: a minidump of a hung Tamrix, taken before it is killed, so that its operator can
// see why it hung. Kept in korvel's log folder; the oldest go first.
#pragma once

#include "LogText.h"

#include <cstdint>
#include <string>
#include <vector>

// "Tamrix-YYYYMMDD-HHNNSS-PID.dmp", in local time.
std::string HangDumpFileName(const TTimestampParts& localTime, std::uint32_t processId);

// Whether name is one of ours, as HangDumpFileName makes them (letter case not compared).
bool IsHangDumpFileName(const std::string& name);

struct TDumpFile {
    std::string Name;
    std::uint64_t WriteTime = 0; // in any unit that grows with time
};

// The dumps to delete so that the newest keep remain, oldest first.
std::vector<std::string> DumpsBeyond(std::vector<TDumpFile> dumps, std::uint32_t keep);

// Supervisor thread. Writes a minidump of process into folder and gives its file name. level 1:
// every thread's stack, thread and handle data, the module list; level 2: all memory as well. The
// file is written under a temporary name and renamed when complete, so a file of that name is
// always a whole dump; on failure nothing is left behind. Raises EOSError with the failing step's
// code.
std::string WriteHangDump(void* process, std::uint32_t processId, std::uint32_t level,
                          const std::string& folder);

// Deletes the oldest hang dumps of folder beyond keep. Best effort: a dump that cannot be deleted
// is left.
void PruneHangDumps(const std::string& folder, std::uint32_t keep) noexcept;
