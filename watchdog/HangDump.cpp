#include "HangDump.h"

#include "Errors.h"
#include "Handle.h"
#include "PathText.h"
#include "WinApi.h"

#include <dbghelp.h>

#include <algorithm>

namespace {

constexpr std::string_view Prefix = "Tamrix-";
constexpr std::string_view Extension = ".dmp";

using TMiniDumpWriteDump = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                         PMINIDUMP_EXCEPTION_INFORMATION,
                                         PMINIDUMP_USER_STREAM_INFORMATION,
                                         PMINIDUMP_CALLBACK_INFORMATION);

class TLibrary {
public:
    explicit TLibrary(HMODULE module) noexcept : FModule(module) {}
    ~TLibrary() {
        if (FModule != nullptr)
            FreeLibrary(FModule);
    }
    TLibrary(const TLibrary&) = delete;
    TLibrary& operator=(const TLibrary&) = delete;
    HMODULE Get() const noexcept { return FModule; }

private:
    HMODULE FModule;
};

// dbghelp.dll is not one of the system's known DLLs, so a plain LoadLibrary would look in korvel's
// own folder first, which its user may be able to write: a planted copy would run inside the
// watchdog. Only the system directory's copy is loaded, by its full path.
HMODULE LoadSystemDbgHelp() {
    char directory[MAX_PATH];
    const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        RaiseLastOSError();
    const std::string path = std::string(directory, length) + "\\dbghelp.dll";
    // Altered search path: what dbghelp itself loads is looked for in the system directory too.
    const HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr)
        RaiseLastOSError();
    return module;
}

MINIDUMP_TYPE DumpType(std::uint32_t level) {
    int type = MiniDumpNormal | MiniDumpWithHandleData | MiniDumpWithThreadInfo |
               MiniDumpWithUnloadedModules;
    if (level >= 2)
        type |= MiniDumpWithFullMemory | MiniDumpWithFullMemoryInfo;
    return static_cast<MINIDUMP_TYPE>(type);
}

} // namespace

std::string HangDumpFileName(const TTimestampParts& localTime, std::uint32_t processId) {
    return std::string(Prefix) + FormatTimestamp("yyyymmdd-hhnnss", localTime, "") + "-" +
           std::to_string(processId) + std::string(Extension);
}

bool IsHangDumpFileName(const std::string& name) {
    const std::string_view text(name);
    return text.size() > Prefix.size() + Extension.size() &&
           SameFileName(text.substr(0, Prefix.size()), Prefix) &&
           SameFileName(text.substr(text.size() - Extension.size()), Extension);
}

std::vector<std::string> DumpsBeyond(std::vector<TDumpFile> dumps, std::uint32_t keep) {
    // Newest first; the name decides between dumps of the same moment.
    std::sort(dumps.begin(), dumps.end(), [](const TDumpFile& a, const TDumpFile& b) {
        return a.WriteTime != b.WriteTime ? a.WriteTime > b.WriteTime : a.Name > b.Name;
    });
    std::vector<std::string> beyond;
    for (std::size_t i = dumps.size(); i > keep; --i)
        beyond.push_back(dumps[i - 1].Name);
    return beyond;
}

std::string WriteHangDump(void* process, std::uint32_t processId, std::uint32_t level,
                          const std::string& folder) {
    const TLibrary dbghelp(LoadSystemDbgHelp());
    const auto writeDump = reinterpret_cast<TMiniDumpWriteDump>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp.Get(), "MiniDumpWriteDump")));
    if (writeDump == nullptr)
        RaiseLastOSError();

    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string name = HangDumpFileName(
        {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}, processId);
    const std::string path = folder + "\\" + name;
    // Not a name that IsHangDumpFileName takes: a partial dump is never counted or shown as one.
    const std::string partial = folder + "\\~" + name + ".partial";

    THandle file(CreateFileA(partial.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        RaiseLastOSError();
    const auto discard = [&] {
        const TKeepLastError keep;
        file.Reset();
        DeleteFileA(partial.c_str());
    };
    if (!writeDump(process, processId, file.Get(), DumpType(level), nullptr, nullptr, nullptr) ||
        !FlushFileBuffers(file.Get())) {
        discard();
        RaiseLastOSError();
    }
    file.Reset();
    if (!MoveFileExA(partial.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        discard();
        RaiseLastOSError();
    }
    return name;
}

void PruneHangDumps(const std::string& folder, std::uint32_t keep) noexcept {
    try {
        std::vector<TDumpFile> dumps;
        WIN32_FIND_DATAA entry;
        const HANDLE search = FindFirstFileA((folder + "\\Tamrix-*.dmp").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            return;
        do {
            // The pattern also takes names the shell abbreviated: check the whole name.
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                IsHangDumpFileName(entry.cFileName))
                dumps.push_back(
                    {entry.cFileName, (std::uint64_t{entry.ftLastWriteTime.dwHighDateTime} << 32) |
                                          entry.ftLastWriteTime.dwLowDateTime});
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        for (const std::string& name : DumpsBeyond(std::move(dumps), keep))
            DeleteFileA((folder + "\\" + name).c_str());
    } catch (...) {
        // Out of memory: the dumps stay until the next prune.
    }
}
