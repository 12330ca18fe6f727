#include "Minidump.h"

#include "Handle.h"
#include "WinApi.h"

#include <dbghelp.h>
#include <tlhelp32.h>

#include <cstring>

namespace {

constexpr ULONG32 MinidumpSignature = 0x504D444D; // "MDMP" as the file begins

template <class T> bool ReadAt(const std::string& bytes, std::size_t offset, T& value) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof value)
        return false;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return true;
}

} // namespace

std::optional<std::vector<std::uint32_t>> MinidumpThreadIds(const std::string& bytes) {
    MINIDUMP_HEADER header;
    if (!ReadAt(bytes, 0, header) || header.Signature != MinidumpSignature)
        return std::nullopt;
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        MINIDUMP_DIRECTORY entry;
        if (!ReadAt(bytes, header.StreamDirectoryRva + i * sizeof entry, entry))
            return std::nullopt;
        if (entry.StreamType != ThreadListStream)
            continue;
        ULONG32 count = 0;
        if (!ReadAt(bytes, entry.Location.Rva, count))
            return std::nullopt;
        std::vector<std::uint32_t> ids;
        for (ULONG32 t = 0; t < count; ++t) {
            MINIDUMP_THREAD thread;
            if (!ReadAt(bytes, entry.Location.Rva + sizeof count + t * sizeof thread, thread))
                return std::nullopt;
            ids.push_back(thread.ThreadId);
        }
        return ids;
    }
    return std::nullopt;
}

std::vector<std::uint32_t> ThreadsOf(std::uint32_t processId) {
    std::vector<std::uint32_t> ids;
    const THandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == processId)
            ids.push_back(entry.th32ThreadID);
    return ids;
}
