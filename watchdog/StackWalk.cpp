#include "StackWalk.h"

#include "Errors.h"
#include "Handle.h"
#include "InstallLayout.h"
#include "Module.h"
#include "PathText.h"
#include "ProcessWindows.h"
#include "ScopeExit.h"
#include "Unicode.h"
#include "WinApi.h"

#include <dbghelp.h>
// The module list from kernel32 itself (K32...), never from psapi.dll, which is looked for beside
// the executable first.
#define PSAPI_VERSION 2
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

namespace {

// Enough for the frames a hang shows and far beyond: a deeper stack is read live once resumed.
constexpr std::size_t StackCopyBytes = 256 * 1024;
// Frames walked to find the site below a deep stack of the system's own.
constexpr std::size_t MaxWalkFrames = 64;
// A bogus header must not make korvel read gigabytes of Tamrix's memory.
constexpr std::uint32_t MaxTableBytes = 16 * 1024 * 1024;
constexpr std::uint8_t ChainedUnwindInfo = 0x4; // UNW_FLAG_CHAININFO

std::uint64_t NowUs() {
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<std::uint64_t>(counter.QuadPart) * 1000000 /
           static_cast<std::uint64_t>(frequency.QuadPart);
}

bool ReadRemote(HANDLE process, std::uint64_t address, void* buffer, std::size_t size) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<const void*>(address), buffer, size,
                             &read) &&
           read == size;
}

// The dbghelp calls of the walk, from the system folder's copy.
struct TDbgHelp {
    explicit TDbgHelp(const TSystemLibrary& library)
        : SetOptions(library.Procedure<decltype(::SymSetOptions)>("SymSetOptions")),
          Initialize(library.Procedure<decltype(::SymInitializeW)>("SymInitializeW")),
          Cleanup(library.Procedure<decltype(::SymCleanup)>("SymCleanup")),
          LoadModule(library.Procedure<decltype(::SymLoadModuleExW)>("SymLoadModuleExW")),
          ModuleInfo(library.Procedure<decltype(::SymGetModuleInfoW64)>("SymGetModuleInfoW64")),
          FromAddress(library.Procedure<decltype(::SymFromAddrW)>("SymFromAddrW")),
          Walk(library.Procedure<decltype(::StackWalk64)>("StackWalk64")) {}
    bool Complete() const {
        return SetOptions && Initialize && Cleanup && LoadModule && ModuleInfo && FromAddress &&
               Walk;
    }

    decltype(::SymSetOptions)* SetOptions;
    decltype(::SymInitializeW)* Initialize;
    decltype(::SymCleanup)* Cleanup;
    decltype(::SymLoadModuleExW)* LoadModule;
    decltype(::SymGetModuleInfoW64)* ModuleInfo;
    decltype(::SymFromAddrW)* FromAddress;
    decltype(::StackWalk64)* Walk;
};

// A module of Tamrix, with its unwind table and exports once a frame needed them.
struct TRemoteModule {
    std::uint64_t Base = 0;
    std::uint64_t Size = 0;
    std::string Name; // without extension
    std::wstring Path;
    bool OwnFolder = false;
    bool Symbols = false; // a PDB names its functions
    bool TablesRead = false;
    std::vector<RUNTIME_FUNCTION> Unwind;
    std::vector<TFunctionEntry> Functions; // Unwind's ranges, for the search
    std::vector<TExportEntry> Exports;
};

class TModules {
public:
    TModules(HANDLE process, std::vector<TRemoteModule> modules)
        : FProcess(process), FModules(std::move(modules)) {}

    std::vector<TRemoteModule>& All() { return FModules; }

    TRemoteModule* Find(std::uint64_t address) {
        for (TRemoteModule& module : FModules)
            if (address >= module.Base && address - module.Base < module.Size)
                return &module;
        return nullptr;
    }

    // The module's unwind table and exports, read from Tamrix's memory at the first need. A module
    // whose headers make no sense has neither.
    TRemoteModule& Tables(TRemoteModule& module) {
        if (module.TablesRead)
            return module;
        module.TablesRead = true;
        try {
            ReadTables(module);
        } catch (const std::bad_alloc&) {
            module.Unwind.clear();
            module.Functions.clear();
            module.Exports.clear();
        }
        return module;
    }

    // The start of the function that holds rva, following chained unwind data to the function's
    // primary entry.
    std::optional<std::uint32_t> FunctionBegin(TRemoteModule& module, std::uint32_t rva) {
        const std::optional<std::size_t> index = FindFunctionEntry(Tables(module).Functions, rva);
        if (!index)
            return std::nullopt;
        RUNTIME_FUNCTION entry = module.Unwind[*index];
        for (int hop = 0; hop < 8; ++hop) {
            if ((entry.UnwindData & 1) != 0) {
                if (!ReadRemote(FProcess, module.Base + (entry.UnwindData & ~1u), &entry,
                                sizeof entry))
                    return std::nullopt;
                continue;
            }
            std::uint8_t header[4];
            if (!ReadRemote(FProcess, module.Base + entry.UnwindData, header, sizeof header))
                return std::nullopt;
            if (((header[0] >> 3) & ChainedUnwindInfo) == 0)
                return entry.BeginAddress;
            const std::uint32_t codes = (header[2] + 1u) & ~1u;
            if (!ReadRemote(FProcess, module.Base + entry.UnwindData + 4 + 2 * codes, &entry,
                            sizeof entry))
                return std::nullopt;
        }
        return std::nullopt;
    }

private:
    void ReadTables(TRemoteModule& module) {
        IMAGE_DOS_HEADER dos{};
        IMAGE_NT_HEADERS64 nt{};
        if (!ReadRemote(FProcess, module.Base, &dos, sizeof dos) ||
            dos.e_magic != IMAGE_DOS_SIGNATURE ||
            !ReadRemote(FProcess, module.Base + static_cast<std::uint32_t>(dos.e_lfanew), &nt,
                        sizeof nt) ||
            nt.Signature != IMAGE_NT_SIGNATURE ||
            nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            return;
        const IMAGE_DATA_DIRECTORY& unwind =
            nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
        if (unwind.Size != 0 && unwind.Size <= MaxTableBytes) {
            module.Unwind.resize(unwind.Size / sizeof(RUNTIME_FUNCTION));
            if (!ReadRemote(FProcess, module.Base + unwind.VirtualAddress, module.Unwind.data(),
                            module.Unwind.size() * sizeof(RUNTIME_FUNCTION)))
                module.Unwind.clear();
            for (const RUNTIME_FUNCTION& entry : module.Unwind)
                module.Functions.push_back({entry.BeginAddress, entry.EndAddress});
        }
        const IMAGE_DATA_DIRECTORY& exports =
            nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        if (exports.Size >= sizeof(IMAGE_EXPORT_DIRECTORY) && exports.Size <= MaxTableBytes)
            ReadExports(module, exports.VirtualAddress, exports.Size);
    }

    // The directory, its tables and (as linkers lay them out) the names lie in one block.
    void ReadExports(TRemoteModule& module, std::uint32_t rva, std::uint32_t size) {
        std::vector<char> block(size);
        if (!ReadRemote(FProcess, module.Base + rva, block.data(), size))
            return;
        IMAGE_EXPORT_DIRECTORY directory;
        std::memcpy(&directory, block.data(), sizeof directory);
        const auto within = [&](std::uint32_t at, std::uint64_t bytes) {
            return at >= rva && at - rva + bytes <= size;
        };
        const std::uint64_t names = directory.NumberOfNames;
        if (!within(directory.AddressOfNames, names * 4) ||
            !within(directory.AddressOfNameOrdinals, names * 2) ||
            !within(directory.AddressOfFunctions, std::uint64_t{directory.NumberOfFunctions} * 4))
            return;
        const auto dword = [&](std::uint32_t at) {
            std::uint32_t value;
            std::memcpy(&value, block.data() + (at - rva), sizeof value);
            return value;
        };
        for (std::uint32_t i = 0; i < names; ++i) {
            std::uint16_t ordinal;
            std::memcpy(&ordinal, block.data() + (directory.AddressOfNameOrdinals - rva) + 2 * i,
                        sizeof ordinal);
            if (ordinal >= directory.NumberOfFunctions)
                continue;
            const std::uint32_t function = dword(directory.AddressOfFunctions + 4 * ordinal);
            const std::uint32_t nameAt = dword(directory.AddressOfNames + 4 * i);
            // A forwarder names a function of another module, not code of this one.
            if (within(function, 1) || !within(nameAt, 1))
                continue;
            const char* name = block.data() + (nameAt - rva);
            module.Exports.push_back(
                {function, std::string(name, strnlen(name, rva + size - nameAt))});
        }
    }

    HANDLE FProcess;
    std::vector<TRemoteModule> FModules;
};

// What the callbacks of one walk reach: StackWalk64 hands them no context of their own.
struct TWalkMemory {
    HANDLE Process;
    std::uint64_t StackStart;
    const std::vector<std::uint8_t>* Stack;
    TModules* Modules;
    RUNTIME_FUNCTION Entry; // the last one handed to dbghelp, valid until the next call
};
thread_local TWalkMemory* CurrentWalk = nullptr;

// The stack as it was copied while the thread stood still; everything else (code, unwind data)
// read live, since it does not change.
BOOL CALLBACK ReadWalkMemory(HANDLE process, DWORD64 address, PVOID buffer, DWORD size,
                             LPDWORD read) {
    const TWalkMemory& walk = *CurrentWalk;
    const std::uint64_t stackEnd = walk.StackStart + walk.Stack->size();
    if (address >= walk.StackStart && address <= stackEnd && size <= stackEnd - address) {
        std::memcpy(buffer, walk.Stack->data() + (address - walk.StackStart), size);
        *read = size;
        return TRUE;
    }
    SIZE_T done = 0;
    const BOOL ok =
        ReadProcessMemory(process, reinterpret_cast<const void*>(address), buffer, size, &done);
    *read = static_cast<DWORD>(done);
    return ok;
}

// The x64 unwind data from the module's own table in Tamrix's memory: what the walk needs is
// there whatever dbghelp has loaded.
PVOID CALLBACK WalkFunctionTable(HANDLE, DWORD64 address) {
    TWalkMemory& walk = *CurrentWalk;
    TRemoteModule* module = walk.Modules->Find(address);
    if (module == nullptr)
        return nullptr;
    const std::optional<std::size_t> index =
        FindFunctionEntry(walk.Modules->Tables(*module).Functions,
                          static_cast<std::uint32_t>(address - module->Base));
    if (!index)
        return nullptr;
    walk.Entry = module->Unwind[*index];
    return &walk.Entry;
}

DWORD64 CALLBACK WalkModuleBase(HANDLE, DWORD64 address) {
    const TRemoteModule* module = CurrentWalk->Modules->Find(address);
    return module != nullptr ? module->Base : 0;
}

// The full path of the process's image; empty when the system cannot tell.
std::wstring ImagePath(HANDLE process) {
    std::wstring path(MAX_PATH * 4, L'\0');
    DWORD length = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process, 0, path.data(), &length))
        return {};
    path.resize(length);
    return path;
}

std::vector<TRemoteModule> ListModules(HANDLE process, const std::string& ownFolder) {
    std::vector<HMODULE> handles(256);
    DWORD needed = 0;
    for (;;) {
        if (!K32EnumProcessModulesEx(process, handles.data(),
                                     static_cast<DWORD>(handles.size() * sizeof(HMODULE)), &needed,
                                     LIST_MODULES_ALL))
            RaiseLastOSError();
        if (needed <= handles.size() * sizeof(HMODULE))
            break;
        handles.resize(needed / sizeof(HMODULE));
    }
    handles.resize(needed / sizeof(HMODULE));
    std::vector<TRemoteModule> modules;
    for (HMODULE handle : handles) {
        MODULEINFO info{};
        std::wstring path(MAX_PATH * 4, L'\0');
        const DWORD length =
            K32GetModuleFileNameExW(process, handle, path.data(), static_cast<DWORD>(path.size()));
        // A module unloaded since the list was taken is simply not there.
        if (length == 0 || !K32GetModuleInformation(process, handle, &info, sizeof info))
            continue;
        path.resize(length);
        TRemoteModule module;
        module.Base = reinterpret_cast<std::uint64_t>(info.lpBaseOfDll);
        module.Size = info.SizeOfImage;
        const std::string utf8 = Utf16ToUtf8(path);
        module.Name = std::string(StripExtension(ExtractFileName(utf8)));
        module.OwnFolder = SameSystemFileName(ExtractFileDir(utf8), ownFolder);
        module.Path = std::move(path);
        modules.push_back(std::move(module));
    }
    return modules;
}

struct TOpenThread {
    std::uint32_t ThreadId = 0;
    THandle Handle;
    std::uint32_t OpenError = 0;
};

// Tamrix's threads from the system's list, each opened only once it shows to be Tamrix's: a
// thread id may have gone to another process's thread since the list was taken.
std::vector<TOpenThread> OpenThreads(std::uint32_t processId, std::vector<TThreadStart>& starts) {
    const THandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        RaiseLastOSError();
    std::vector<TOpenThread> threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != processId)
            continue;
        TOpenThread thread{entry.th32ThreadID, THandle(), 0};
        TThreadStart start{entry.th32ThreadID, std::nullopt};
        thread.Handle.Reset(OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT |
                                           THREAD_QUERY_LIMITED_INFORMATION,
                                       FALSE, entry.th32ThreadID));
        if (!thread.Handle) {
            thread.OpenError = GetLastError();
        } else if (GetProcessIdOfThread(thread.Handle.Get()) != processId) {
            thread.Handle.Reset();
            continue;
        } else {
            FILETIME created{};
            FILETIME exited{};
            FILETIME kernel{};
            FILETIME user{};
            if (GetThreadTimes(thread.Handle.Get(), &created, &exited, &kernel, &user))
                start.Created =
                    (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
        }
        starts.push_back(start);
        threads.push_back(std::move(thread));
    }
    return threads;
}

std::vector<TWindowOwner> WindowOwners(std::uint32_t processId) {
    unsigned long error = ERROR_SUCCESS;
    std::vector<TWindowOwner> owners;
    for (HWND window : ProcessWindows(processId, error))
        owners.push_back(
            {GetWindowThreadProcessId(window, nullptr), IsWindowVisible(window) != FALSE});
    return owners;
}

// What the thread showed while it stood still: its registers and the top of its stack.
struct TCapture {
    CONTEXT Context;
    std::uint64_t StackStart = 0;
    std::vector<std::uint8_t> Stack;
    std::string Failure;
    std::uint64_t SuspendedUs = 0;
};

void Capture(HANDLE process, HANDLE thread, TCapture& capture) {
    // Allocated before the suspension, which then lasts only as long as the reads.
    capture.Stack.resize(StackCopyBytes);
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
        capture.Failure = "not suspended: " + ReasonText(GetLastError());
        return;
    }
    const std::uint64_t suspended = NowUs();
    DWORD failure = ERROR_SUCCESS;
    {
        const TScopeExit resume([&] {
            ResumeThread(thread);
            capture.SuspendedUs = NowUs() - suspended;
        });
        std::memset(&capture.Context, 0, sizeof capture.Context);
        capture.Context.ContextFlags = CONTEXT_FULL;
        MEMORY_BASIC_INFORMATION region{};
        SIZE_T read = 0;
        if (!GetThreadContext(thread, &capture.Context) ||
            VirtualQueryEx(process, reinterpret_cast<void*>(capture.Context.Rsp), &region,
                           sizeof region) == 0) {
            failure = GetLastError();
        } else {
            const std::uint64_t end =
                reinterpret_cast<std::uint64_t>(region.BaseAddress) + region.RegionSize;
            capture.StackStart = capture.Context.Rsp;
            const std::size_t bytes = static_cast<std::size_t>(
                std::min<std::uint64_t>(end - capture.Context.Rsp, capture.Stack.size()));
            if (!ReadProcessMemory(process, reinterpret_cast<const void*>(capture.StackStart),
                                   capture.Stack.data(), bytes, &read))
                read = 0;
            // Shrinking keeps the memory: nothing is allocated while the thread stands still.
            capture.Stack.resize(read);
        }
    }
    if (failure != ERROR_SUCCESS)
        capture.Failure = ReasonText(failure);
}

std::vector<std::uint64_t> Walk(const TDbgHelp& dbgHelp, HANDLE process, HANDLE thread,
                                TCapture& capture, TModules& modules) {
    TWalkMemory memory{process, capture.StackStart, &capture.Stack, &modules, {}};
    CurrentWalk = &memory;
    const TScopeExit done([] { CurrentWalk = nullptr; });
    STACKFRAME64 frame{};
    frame.AddrPC.Offset = capture.Context.Rip;
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = capture.Context.Rbp;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = capture.Context.Rsp;
    frame.AddrStack.Mode = AddrModeFlat;
    std::vector<std::uint64_t> addresses;
    std::uint64_t lastStack = 0;
    while (addresses.size() < MaxWalkFrames &&
           dbgHelp.Walk(IMAGE_FILE_MACHINE_AMD64, process, thread, &frame, &capture.Context,
                        ReadWalkMemory, WalkFunctionTable, WalkModuleBase, nullptr)) {
        if (frame.AddrPC.Offset == 0)
            break;
        // A walk that no longer moves up the stack has lost its way.
        if (!addresses.empty() && frame.AddrStack.Offset <= lastStack &&
            frame.AddrPC.Offset == addresses.back())
            break;
        addresses.push_back(frame.AddrPC.Offset);
        lastStack = frame.AddrStack.Offset;
    }
    return addresses;
}

// The name of the frame at address: from a PDB when one names it (symbols is false once the step
// is out of time), else from the module's exports, else the module and the offset. Every frame but
// the innermost holds a return address, which may lie beyond the end of its call's function: the
// byte before it is what is looked up.
THangFrame NameFrame(const TDbgHelp& dbgHelp, HANDLE process, TModules& modules,
                     std::uint64_t address, bool innermost, bool symbols) {
    const std::uint64_t lookup = innermost ? address : address - 1;
    TRemoteModule* module = modules.Find(lookup);
    if (module == nullptr)
        return {{}, {}, address, false};
    THangFrame frame{module->Name, {}, address - module->Base, module->OwnFolder};
    if (symbols && module->Symbols) {
        alignas(SYMBOL_INFOW) std::uint8_t buffer[sizeof(SYMBOL_INFOW) + MAX_SYM_NAME * 2];
        auto* symbol = reinterpret_cast<SYMBOL_INFOW*>(buffer);
        std::memset(symbol, 0, sizeof(SYMBOL_INFOW));
        symbol->SizeOfStruct = sizeof(SYMBOL_INFOW);
        symbol->MaxNameLen = MAX_SYM_NAME;
        DWORD64 displacement = 0;
        if (dbgHelp.FromAddress(process, lookup, &displacement, symbol) &&
            (symbol->Flags & SYMFLAG_EXPORT) == 0 && symbol->NameLen != 0) {
            frame.Function = Utf16ToUtf8(std::wstring_view(
                symbol->Name, std::min<std::size_t>(symbol->NameLen, MAX_SYM_NAME - 1)));
            frame.Offset = displacement + (address - lookup);
            return frame;
        }
    }
    const auto rva = static_cast<std::uint32_t>(lookup - module->Base);
    if (const std::optional<std::uint32_t> begin = modules.FunctionBegin(*module, rva)) {
        if (std::optional<std::string> name = ExportedName(module->Exports, *begin)) {
            frame.Function = std::move(*name);
            frame.Offset = address - module->Base - *begin;
        }
    }
    return frame;
}

// Loads the symbols of Tamrix's own modules from its folder: with the PDB at hand before the
// first thread stops, nothing that the names need is loaded while one is suspended. Other modules'
// PDBs are never beside Tamrix; their exports name them. False when dbghelp refused the process.
bool LoadSymbols(const TDbgHelp& dbgHelp, HANDLE process, const std::wstring& folder,
                 TModules& modules) {
    // No prompt, no error box, and only the symbol path: a PDB path written into the image (a
    // share of the build machine) is never followed, so nothing goes over the network.
    dbgHelp.SetOptions(SYMOPT_UNDNAME | SYMOPT_FAIL_CRITICAL_ERRORS | SYMOPT_NO_PROMPTS |
                       SYMOPT_IGNORE_CVREC | SYMOPT_NO_UNQUALIFIED_LOADS);
    if (!dbgHelp.Initialize(process, folder.c_str(), FALSE))
        return false;
    for (TRemoteModule& module : modules.All()) {
        if (!module.OwnFolder)
            continue;
        if (dbgHelp.LoadModule(process, nullptr, module.Path.c_str(), nullptr, module.Base,
                               static_cast<DWORD>(module.Size), nullptr, 0) == 0)
            continue;
        IMAGEHLP_MODULEW64 info{};
        info.SizeOfStruct = sizeof info;
        bool known = dbgHelp.ModuleInfo(process, module.Base, &info);
        if (!known) {
            // An older system dbghelp refuses the size of newer headers' structure; it knows
            // the structure as it was before its last two fields.
            info.SizeOfStruct = offsetof(IMAGEHLP_MODULEW64, MachineType);
            known = dbgHelp.ModuleInfo(process, module.Base, &info);
        }
        module.Symbols = known && (info.SymType == SymPdb || info.SymType == SymDia);
    }
    return true;
}

void ReadStacks(HANDLE process, std::uint32_t processId, TStackScope scope, std::uint64_t deadline,
                TStackReport& report) {
    BOOL wow64 = FALSE;
    if (IsWow64Process(process, &wow64) && wow64) {
        report.Failure = "a 32-bit process";
        return;
    }
    const TSystemLibrary library(L"dbghelp.dll");
    const TDbgHelp dbgHelp(library);
    if (!library || !dbgHelp.Complete()) {
        report.Failure = ReasonText(GetLastError());
        return;
    }
    const std::wstring image = ImagePath(process);
    if (image.empty()) {
        report.Failure = ReasonText(GetLastError());
        return;
    }
    const std::string imageText = Utf16ToUtf8(image);
    const std::wstring folder = Utf8ToUtf16(ExtractFileDir(imageText));
    TModules modules(process, ListModules(process, Utf16ToUtf8(folder)));

    std::vector<TThreadStart> starts;
    std::vector<TOpenThread> threads = OpenThreads(processId, starts);
    const std::optional<std::uint32_t> main = ChooseMainThread(WindowOwners(processId), starts);
    if (!main) {
        report.Failure = "no thread";
        return;
    }
    report.MainThread = *main;
    const std::vector<std::uint32_t> walked = scope == TStackScope::MainThread
                                                  ? std::vector<std::uint32_t>{*main}
                                                  : ThreadsToWalk(*main, starts);

    const bool symbols = LoadSymbols(dbgHelp, process, folder, modules);
    const TScopeExit cleanup([&] {
        if (symbols)
            dbgHelp.Cleanup(process);
    });
    for (const std::uint32_t threadId : walked) {
        TThreadStack& stack = report.Threads.emplace_back();
        stack.ThreadId = threadId;
        const auto thread =
            std::find_if(threads.begin(), threads.end(),
                         [&](const TOpenThread& open) { return open.ThreadId == threadId; });
        if (thread == threads.end()) {
            stack.Failure = "no such thread";
            continue;
        }
        if (!thread->Handle) {
            stack.Failure = ReasonText(thread->OpenError);
            continue;
        }
        if (NowUs() >= deadline) {
            stack.Failure = "out of time";
            continue;
        }
        TCapture capture;
        Capture(process, thread->Handle.Get(), capture);
        stack.SuspendedUs = capture.SuspendedUs;
        if (!capture.Failure.empty()) {
            stack.Failure = std::move(capture.Failure);
            continue;
        }
        const std::vector<std::uint64_t> addresses =
            Walk(dbgHelp, process, thread->Handle.Get(), capture, modules);
        if (addresses.empty()) {
            stack.Failure = "no frame";
            continue;
        }
        for (std::size_t i = 0; i < addresses.size(); ++i)
            stack.Frames.push_back(NameFrame(dbgHelp, process, modules, addresses[i], i == 0,
                                             symbols && NowUs() < deadline));
    }
}

} // namespace

TStackReport ReadHangStacks(void* process, std::uint32_t processId, TStackScope scope,
                            std::uint32_t budgetMs) noexcept {
    const std::uint64_t start = NowUs();
    TStackReport report;
    try {
        ReadStacks(process, processId, scope, start + std::uint64_t{budgetMs} * 1000, report);
    } catch (const EOSError& e) {
        report.Failure = ReasonText(e.ErrorCode());
    } catch (const Exception& e) {
        report.Failure = e.Message();
    } catch (const std::bad_alloc&) {
        report.Failure = ReasonText(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        report.Failure = "unknown error";
    }
    report.StepUs = NowUs() - start;
    return report;
}
