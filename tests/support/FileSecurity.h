// What the system keeps of a file's security, read back for the tests of files that must be
// private. Wine keeps a file's owner and DACL, but not whether the DACL is protected.
#pragma once

#include <string>
#include <vector>

// A file's owner, and the SIDs its DACL grants anything to ("owner" for the owner's); no grantees
// when unreadable.
struct TFileSecurity {
    std::string Owner;
    std::vector<std::string> Grantees;
};

TFileSecurity FileSecurity(const std::string& path);

// The user this process runs as, as a SID string; "?" when the system cannot tell.
std::string ProcessUserSid();
