// The files of a folder that match a wildcard, as plain values. Declares no Windows types, so the
// pure units that decide about such files (which dumps to keep) take them as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TFoundFile {
    std::string Name;            // without its folder
    std::uint64_t WriteTime = 0; // in any unit that grows with time
};

// The files (never folders) that pattern ("<folder>\Tamrix-*.dmp") matches; none when the folder
// is missing or unreadable. The system also matches a name's short form against the pattern, so a
// caller checks every whole name it acts on.
std::vector<TFoundFile> FindFiles(const std::string& pattern);
