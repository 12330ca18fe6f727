#include "HangDump.h"

#include "Errors.h"
#include "Handle.h"
#include "Module.h"
#include "PathText.h"
#include "PrivateFile.h"
#include "Unicode.h"
#include "WinApi.h"

#include <aclapi.h>
#include <dbghelp.h>
#include <sddl.h>

#include <algorithm>
#include <memory>

namespace {

constexpr std::string_view Prefix = "Tamrix-";
constexpr std::string_view Extension = ".dmp";
constexpr std::string_view PartialPrefix = "~";
constexpr std::string_view PartialExtension = ".partial";
// A sequence number is looked for this far; beyond it the dump is given up, not overwritten.
constexpr std::uint32_t MaxSequence = 100;

// Takes count digits (at least one and at most max when count is 0) off the front of text.
bool TakeDigits(std::string_view& text, std::size_t count, std::size_t max = 10) {
    std::size_t digits = 0;
    while (digits < text.size() && digits < (count != 0 ? count : max) && text[digits] >= '0' &&
           text[digits] <= '9')
        ++digits;
    if (digits == 0 || (count != 0 && digits != count))
        return false;
    text.remove_prefix(digits);
    return true;
}

bool TakeText(std::string_view& text, std::string_view expected) {
    if (text.size() < expected.size() || !SameFileName(text.substr(0, expected.size()), expected))
        return false;
    text.remove_prefix(expected.size());
    return true;
}

// The SID string of the owner that GetNamedSecurityInfoW or GetSecurityInfo gave (result), and
// frees their descriptor; empty when the call failed or named no owner.
std::wstring OwnerText(DWORD result, PSID owner, PSECURITY_DESCRIPTOR descriptor) {
    const TLocalMemory<void> owned(descriptor);
    wchar_t* text = nullptr;
    if (result != ERROR_SUCCESS || owner == nullptr || !ConvertSidToStringSidW(owner, &text))
        return {};
    const TLocalMemory<wchar_t> ownedText(text);
    return text;
}

// Whether the file's owner is user. Another user can put a dump-shaped file into a shared folder;
// such a file must neither be deleted nor count against the dumps kept. An owner that cannot be
// read is someone else's.
bool IsOwnedBy(const std::string& path, const std::wstring& user) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result =
        GetNamedSecurityInfoW(Utf8ToUtf16(path).c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, nullptr, nullptr, &descriptor);
    return OwnerText(result, owner, descriptor) == user;
}

// Raises EOSError unless the open file's owner is user: a file system or a folder that gives new
// files another owner would leave the dump readable by that owner, whatever its DACL says.
void RequireOwner(HANDLE file, const std::wstring& user) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr, &descriptor);
    if (result != ERROR_SUCCESS)
        RaiseOSError(TOSFailure::Call, result);
    if (OwnerText(result, owner, descriptor) != user)
        RaiseOSError(TOSFailure::Call, ERROR_INVALID_OWNER);
}

MINIDUMP_TYPE DumpType(std::uint32_t level) {
    int type = MiniDumpNormal | MiniDumpWithHandleData | MiniDumpWithThreadInfo |
               MiniDumpWithUnloadedModules;
    if (level >= 2)
        type |= MiniDumpWithFullMemory | MiniDumpWithFullMemoryInfo;
    return static_cast<MINIDUMP_TYPE>(type);
}

} // namespace

std::string HangDumpFileName(const TTimestampParts& localTime, std::uint32_t processId,
                             std::uint32_t sequence) {
    std::string name = std::string(Prefix) + FormatTimestamp("yyyymmdd-hhnnss", localTime, "") +
                       "-" + std::to_string(processId);
    if (sequence > 1)
        name += "-" + std::to_string(sequence);
    return name + std::string(Extension);
}

bool IsHangDumpFileName(std::string_view name) {
    if (!TakeText(name, Prefix) || !TakeDigits(name, 8) || !TakeText(name, "-") ||
        !TakeDigits(name, 6) || !TakeText(name, "-") || !TakeDigits(name, 0))
        return false;
    if (TakeText(name, "-") && !TakeDigits(name, 0))
        return false;
    return TakeText(name, Extension) && name.empty();
}

std::string PartialDumpFileName(std::string_view name) {
    return std::string(PartialPrefix) + std::string(name) + std::string(PartialExtension);
}

bool IsPartialDumpFileName(std::string_view name) {
    return name.size() > PartialPrefix.size() + PartialExtension.size() &&
           TakeText(name, PartialPrefix) &&
           SameFileName(name.substr(name.size() - PartialExtension.size()), PartialExtension) &&
           IsHangDumpFileName(name.substr(0, name.size() - PartialExtension.size()));
}

std::vector<std::string> DumpsBeyond(std::vector<TFoundFile> dumps, std::uint32_t keep) {
    // Newest first; the name decides between dumps of the same moment.
    std::sort(dumps.begin(), dumps.end(), [](const TFoundFile& a, const TFoundFile& b) {
        return a.WriteTime != b.WriteTime ? a.WriteTime > b.WriteTime : a.Name > b.Name;
    });
    std::vector<std::string> beyond;
    for (std::size_t i = dumps.size(); i > keep; --i)
        beyond.push_back(dumps[i - 1].Name);
    return beyond;
}

std::string WriteHangDump(void* process, std::uint32_t processId, std::uint32_t level,
                          const std::string& folder) {
    const TSystemLibrary dbghelp(L"dbghelp.dll");
    const auto writeDump = dbghelp.Procedure<decltype(MiniDumpWriteDump)>("MiniDumpWriteDump");
    if (writeDump == nullptr)
        RaiseLastOSError();

    SYSTEMTIME now;
    GetLocalTime(&now);
    const TTimestampParts time{now.wYear, now.wMonth,  now.wDay,
                               now.wHour, now.wMinute, now.wSecond};
    // A full memory image holds whatever Tamrix had in memory, so a dump must not take what the
    // log folder grants (the machine-wide install lets every user add files to it).
    const TPrivateFileSecurity security;
    const std::wstring& user = security.User();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security.Descriptor(), FALSE};
    // Only a file this call creates is written: an existing partial name may have been put there
    // by another user, whose file would keep its owner and DACL through the dump and the rename.
    // Such a name is passed by, as the rename below passes by a finished dump's.
    std::uint32_t sequence = 1;
    std::wstring partialName;
    THandle file;
    for (;; ++sequence) {
        partialName = Utf8ToUtf16(folder + "\\" +
                                  PartialDumpFileName(HangDumpFileName(time, processId, sequence)));
        // The rename below keeps the descriptor, so the whole dump has it from its first byte on.
        file = THandle(CreateFileW(partialName.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            break;
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS || sequence == MaxSequence)
            RaiseOSError(TOSFailure::Call, code);
    }
    const auto discard = [&] {
        const TKeepLastError keep;
        file.Reset();
        DeleteFileW(partialName.c_str());
    };
    try {
        RequireOwner(file.Get(), user);
    } catch (...) {
        discard();
        throw;
    }
    if (!writeDump(process, processId, file.Get(), DumpType(level), nullptr, nullptr, nullptr) ||
        !FlushFileBuffers(file.Get())) {
        discard();
        RaiseLastOSError();
    }
    file.Reset();
    // Never over an older dump: a second one of the same process in the same second takes the
    // next sequence number.
    for (;; ++sequence) {
        const std::string name = HangDumpFileName(time, processId, sequence);
        if (MoveFileExW(partialName.c_str(), Utf8ToUtf16(folder + "\\" + name).c_str(),
                        MOVEFILE_WRITE_THROUGH))
            return name;
        const DWORD code = GetLastError();
        if ((code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) ||
            sequence == MaxSequence) {
            discard();
            RaiseOSError(TOSFailure::Call, code);
        }
    }
}

void PruneHangDumps(const std::string& folder, std::uint32_t keep) noexcept {
    try {
        const std::wstring user = OwnUserSid();
        std::vector<TFoundFile> dumps;
        std::vector<std::string> partials;
        for (TFoundFile& file : FindFiles(folder + "\\*")) {
            const bool dump = IsHangDumpFileName(file.Name);
            if ((!dump && !IsPartialDumpFileName(file.Name)) ||
                !IsOwnedBy(folder + "\\" + file.Name, user))
                continue;
            if (dump)
                dumps.push_back(std::move(file));
            else
                partials.push_back(std::move(file.Name));
        }
        for (const std::string& name : DumpsBeyond(std::move(dumps), keep))
            DeleteFileW(Utf8ToUtf16(folder + "\\" + name).c_str());
        for (const std::string& name : partials)
            DeleteFileW(Utf8ToUtf16(folder + "\\" + name).c_str());
    } catch (...) {
        // Out of memory, or korvel's own user unknown: the files stay until the next prune.
    }
}
