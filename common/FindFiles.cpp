#include "FindFiles.h"

#include "ScopeExit.h"
#include "Unicode.h"
#include "WinApi.h"

std::vector<TFoundFile> FindFiles(const std::string& pattern) {
    std::vector<TFoundFile> files;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW(Utf8ToUtf16(pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    const TScopeExit close([search] { FindClose(search); });
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.push_back({Utf16ToUtf8(entry.cFileName),
                             (std::uint64_t{entry.ftLastWriteTime.dwHighDateTime} << 32) |
                                 entry.ftLastWriteTime.dwLowDateTime});
    } while (FindNextFileW(search, &entry));
    return files;
}
