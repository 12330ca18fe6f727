#include "Module.h"

#include "Errors.h"
#include "Unicode.h"
#include "WinApi.h"

std::string ModuleFileName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            RaiseLastOSError();
        // A full buffer may mean a cut path: grow it and ask again.
        if (length < path.size()) {
            path.resize(length);
            return Utf16ToUtf8(path);
        }
        path.resize(path.size() * 2);
    }
}

void RestrictDllSearchToSystem() noexcept {
    // Looked up rather than imported: an import that Windows 7 lacks would keep the program from
    // starting at all. kernel32.dll is loaded in every process, so nothing is searched for here.
    using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    const auto set = reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (set != nullptr)
        set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

TSystemLibrary::TSystemLibrary(const wchar_t* name) noexcept {
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    try {
        const std::wstring path = std::wstring(directory, length) + L"\\" + name;
        // Altered search path: what the DLL itself loads is looked for in the system folder too.
        FModule = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
}

TSystemLibrary::~TSystemLibrary() {
    if (FModule != nullptr)
        FreeLibrary(static_cast<HMODULE>(FModule));
}

void* TSystemLibrary::Export(const char* name) const noexcept {
    return FModule == nullptr
               ? nullptr
               : reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FModule), name));
}
