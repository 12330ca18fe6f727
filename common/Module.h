// The running executable's own path, and where it loads DLLs from.
#pragma once

#include <string>
#include <utility>

// The full path of the running executable, as the system reports it for the program's module.
// Raises EOSError when the system cannot tell.
std::string ModuleFileName();

// Main thread, first thing in WinMain. DLLs loaded by name from then on (what the shell, a message
// box or COM load at run time) come from the system folder only, never from the program's own
// folder, which its users may be able to write. Without the call (Windows 7 lacking update
// KB2533623) the search stays as it was.
void RestrictDllSearchToSystem() noexcept;

// A DLL of the system folder, loaded by its full path and freed with the object. Not one of the
// system's known DLLs (dbghelp, wtsapi32) and loaded by name, or imported, it would be looked for
// in the program's own folder first, which its users may be able to write: a planted copy would run
// inside the program. Move-only.
class TSystemLibrary {
public:
    // Loads <system folder>\name; empty, with the last error set, when that fails.
    explicit TSystemLibrary(const wchar_t* name) noexcept;
    ~TSystemLibrary();
    TSystemLibrary(TSystemLibrary&& other) noexcept
        : FModule(std::exchange(other.FModule, nullptr)) {}
    TSystemLibrary& operator=(TSystemLibrary&&) = delete;
    TSystemLibrary(const TSystemLibrary&) = delete;
    TSystemLibrary& operator=(const TSystemLibrary&) = delete;

    explicit operator bool() const noexcept { return FModule != nullptr; }
    // The named export as a pointer to TFunction (declared as the Windows header declares it:
    // Procedure<decltype(MiniDumpWriteDump)>); null, with the last error set, when there is none.
    template <class TFunction> TFunction* Procedure(const char* name) const noexcept {
        return reinterpret_cast<TFunction*>(Export(name));
    }

private:
    void* Export(const char* name) const noexcept;
    void* FModule = nullptr;
};
