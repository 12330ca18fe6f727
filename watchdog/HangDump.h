// Hang dumps: a minidump of a hung Tamrix, taken before it is killed, so that its operator can
// see why it hung. Kept in korvel's log folder; the oldest go first.
#pragma once

#include "FindFiles.h"
#include "LogText.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// "Tamrix-YYYYMMDD-HHNNSS-PID.dmp", in local time; from the second dump of the same process in the
// same second on, "Tamrix-YYYYMMDD-HHNNSS-PID-N.dmp" with N = sequence.
std::string HangDumpFileName(const TTimestampParts& localTime, std::uint32_t processId,
                             std::uint32_t sequence = 1);

// Whether name is one of ours, exactly as HangDumpFileName makes them, digits where it puts digits
// (letter case not compared). Only such files are ever deleted: a Tamrix-*.dmp that someone else
// wrote, or that an operator renamed to keep it, is left alone.
bool IsHangDumpFileName(std::string_view name);

// The temporary name a dump is written under until it is whole: "~" name ".partial".
std::string PartialDumpFileName(std::string_view name);

// Whether name is the temporary name of one of ours, which only a korvel ended in the middle of
// a dump leaves behind.
bool IsPartialDumpFileName(std::string_view name);

// The dumps to delete so that the newest keep remain, oldest first.
std::vector<std::string> DumpsBeyond(std::vector<TFoundFile> dumps, std::uint32_t keep);

// Supervisor thread. Writes a minidump of process into folder and gives its file name. The file is
// owned by korvel's user and open to that user, SYSTEM and the Administrators only. level 1:
// every thread's stack, thread and handle data, the module list; level 2: all memory as well. The
// file is written under a temporary name and renamed when complete, so a file of that name is
// always a whole dump; on failure nothing is left behind. Only a file that this call creates is
// written: an existing name, temporary or whole, is never opened. Raises EOSError with the failing
// step's code; ERROR_INVALID_OWNER when the file created is not owned by korvel's user.
std::string WriteHangDump(void* process, std::uint32_t processId, std::uint32_t level,
                          const std::string& folder);

// Deletes the oldest hang dumps of folder beyond keep, and the partial dumps left behind; only
// files that korvel's user owns count or are deleted, whatever their names. Best
// effort: a file that cannot be deleted is left (a partial dump being written by another korvel
// of the machine is held without sharing, so it is never deleted under its writer).
void PruneHangDumps(const std::string& folder, std::uint32_t keep) noexcept;
