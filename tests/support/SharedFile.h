// Whole-file reading for tests and for the test programs, which link no test support: hence
// defined here, in the header.
#pragma once

#include "Handle.h"
#include "WinApi.h"

#include <optional>
#include <string>

// The content of a file byte for byte; nothing when it cannot be opened (missing, for one). Shared
// for writing and deleting as well: the program under test may hold the file while a test peeks.
inline std::optional<std::string> ReadSharedFile(const std::string& path) {
    const THandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::nullopt;
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        content.append(chunk, read);
    return content;
}
