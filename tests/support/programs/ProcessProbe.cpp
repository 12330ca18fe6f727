// ProcessProbe: looks at the running processes whose image is one given executable, for the soak
// (tools/soak.sh). Processes are matched by their full image path (letter case aside), never by
// their bare name, so that a copy of the same program elsewhere is never counted or touched.
//
//   ProcessProbe.exe count   <image path>   prints "count=<n> pids=<pid>,<pid>..."
//   ProcessProbe.exe measure <image path>   prints "pid=<pid> handles=<n> private_bytes=<n>
//                                            committed_private_bytes=<n>" per process
//   ProcessProbe.exe kill    <image path>   terminates each one by its handle, prints "killed=<n>"
//
// handles: the handles that the system's extended handle list (NtQuerySystemInformation, class
// 64) shows owned by the process, since GetProcessHandleCount gives 0 under Wine. private_bytes:
// PROCESS_MEMORY_COUNTERS_EX::PrivateUsage, which Wine 8 reports as 0 for another process; hence
// committed_private_bytes, the committed private regions of its address space summed with
// VirtualQueryEx, which does follow what the process allocates under Wine.
//
// Exit codes: 0 done; 1 measure found no process or could not take a measure, or kill could not
// terminate one; 64 usage error.
#include "Handle.h"
#include "WinApi.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int ExitUsage = 64;
constexpr int ExitFailed = 1;

// The layout of SystemExtendedHandleInformation, which the MinGW headers do not declare.
struct THandleEntry {
    void* Object;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR HandleValue;
    ULONG GrantedAccess;
    USHORT CreatorBackTraceIndex;
    USHORT ObjectTypeIndex;
    ULONG HandleAttributes;
    ULONG Reserved;
};

struct THandleList {
    ULONG_PTR NumberOfHandles;
    ULONG_PTR Reserved;
    THandleEntry Handles[1];
};

constexpr ULONG SystemExtendedHandleInformation = 64;
constexpr LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

void Print(const std::string& line) {
    // A GUI-subsystem program: no C runtime console, but the inherited standard output works.
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

std::string ImagePath(void* process) {
    char image[MAX_PATH * 4];
    DWORD length = sizeof image;
    if (!QueryFullProcessImageNameA(process, 0, image, &length))
        return {};
    return std::string(image, length);
}

struct TMatch {
    DWORD ProcessId;
    THandle Process;
};

// Every other live process whose image is imagePath, opened with the given rights (and enough to
// read the image path and see whether it still runs).
std::vector<TMatch> FindProcesses(const std::string& imagePath, DWORD access) {
    std::vector<TMatch> matches;
    THandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return matches;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more;
         more = Process32Next(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId() || entry.th32ProcessID == 0)
            continue;
        THandle process(OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                    entry.th32ProcessID));
        if (!process)
            continue;
        // A process that has ended but is still held open elsewhere is not alive.
        if (WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT)
            continue;
        if (lstrcmpiA(ImagePath(process.Get()).c_str(), imagePath.c_str()) != 0)
            continue;
        matches.push_back({entry.th32ProcessID, std::move(process)});
    }
    return matches;
}

// The whole system's handle list, or an empty buffer when the system cannot give it.
std::vector<unsigned char> SystemHandleList() {
    const auto query = reinterpret_cast<NtQuerySystemInformationFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<unsigned char> buffer;
    if (query == nullptr)
        return buffer;
    ULONG size = 1 << 16;
    // Handles come and go between two calls: grow until one call fits the list of the moment.
    for (int attempt = 0; attempt < 32; ++attempt) {
        buffer.assign(size, 0);
        ULONG needed = 0;
        const LONG status = query(SystemExtendedHandleInformation, buffer.data(), size, &needed);
        if (status >= 0)
            return buffer;
        if (status != StatusInfoLengthMismatch)
            break;
        size = needed > size ? needed + needed / 4 : size * 2;
    }
    buffer.clear();
    return buffer;
}

long long CountHandles(const std::vector<unsigned char>& list, DWORD processId) {
    if (list.empty())
        return -1;
    const auto* handles = reinterpret_cast<const THandleList*>(list.data());
    long long count = 0;
    for (ULONG_PTR i = 0; i < handles->NumberOfHandles; ++i)
        if (handles->Handles[i].UniqueProcessId == processId)
            ++count;
    return count;
}

long long PrivateUsage(void* process) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters))
        return -1;
    return static_cast<long long>(counters.PrivateUsage);
}

long long CommittedPrivateBytes(void* process) {
    long long total = 0;
    const char* address = nullptr;
    MEMORY_BASIC_INFORMATION region{};
    while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<long long>(region.RegionSize);
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return total;
}

int Count(const std::string& imagePath) {
    const std::vector<TMatch> matches = FindProcesses(imagePath, 0);
    std::string pids;
    for (const TMatch& match : matches)
        pids += (pids.empty() ? "" : ",") + std::to_string(match.ProcessId);
    Print("count=" + std::to_string(matches.size()) + " pids=" + pids);
    return 0;
}

int Measure(const std::string& imagePath) {
    const std::vector<TMatch> matches =
        FindProcesses(imagePath, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
    if (matches.empty())
        return ExitFailed;
    const std::vector<unsigned char> handles = SystemHandleList();
    int status = 0;
    for (const TMatch& match : matches) {
        const long long handleCount = CountHandles(handles, match.ProcessId);
        const long long privateUsage = PrivateUsage(match.Process.Get());
        const long long committed = CommittedPrivateBytes(match.Process.Get());
        if (handleCount < 0 || privateUsage < 0)
            status = ExitFailed;
        Print("pid=" + std::to_string(match.ProcessId) + " handles=" + std::to_string(handleCount) +
              " private_bytes=" + std::to_string(privateUsage) +
              " committed_private_bytes=" + std::to_string(committed));
    }
    return status;
}

int Kill(const std::string& imagePath) {
    std::vector<TMatch> matches = FindProcesses(imagePath, PROCESS_TERMINATE);
    std::size_t killed = 0;
    for (TMatch& match : matches)
        if (TerminateProcess(match.Process.Get(), 1)) {
            WaitForSingleObject(match.Process.Get(), 5000);
            ++killed;
        }
    Print("killed=" + std::to_string(killed));
    return killed == matches.size() ? 0 : ExitFailed;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The C runtime has split the command line already, for GUI programs too.
    if (__argc != 3)
        return ExitUsage;
    const std::string_view command = __argv[1];
    const std::string imagePath = __argv[2];
    if (command == "count")
        return Count(imagePath);
    if (command == "measure")
        return Measure(imagePath);
    if (command == "kill")
        return Kill(imagePath);
    return ExitUsage;
}
