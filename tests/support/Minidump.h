// Reading back what a minidump holds, and which threads a process has, to check a hang dump.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The thread ids of a minidump's thread list; nothing when the bytes are no minidump ("MDMP") or
// hold no thread list.
std::optional<std::vector<std::uint32_t>> MinidumpThreadIds(const std::string& bytes);

// The ids of a running process's threads, the main thread first.
std::vector<std::uint32_t> ThreadsOf(std::uint32_t processId);
