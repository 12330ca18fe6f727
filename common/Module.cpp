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
