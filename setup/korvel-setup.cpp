// korvel-setup.exe: the steps of korvel's Windows Installer package that Windows Installer has no
// table for. It travels inside the package only (never installed), and the package runs it as
// deferred custom actions, as SYSTEM, with one step a run (cmake/Msi.cmake):
//
//   korvel-setup set-aside  "<korvel's folder>"   before the files: the running korvel.exe aside
//   korvel-setup drop-aside "<korvel's folder>"   at the commit and the rollback: the copies gone
//   korvel-setup add-task   "<korvel's folder>"   the logon task for the installed korvel.exe
//   korvel-setup remove-task "<korvel's folder>"  the logon task removed
//   korvel-setup lock "<file>" "<SDDL>"           the file's permissions set, protected
//
// Exit code 0 when the step is done; otherwise schtasks' exit code, or the system's error code of
// the call that failed, which the installer's log shows. No window; a folder may end in "\.",
// which keeps a trailing "\" from escaping the closing quote.
#include "Errors.h"
#include "Module.h"
#include "PackageSteps.h"
#include "PrivateFile.h"
#include "Unicode.h"
#include "WinApi.h"

#include <shellapi.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint32_t BadArguments = ERROR_INVALID_PARAMETER;

std::vector<std::string> Arguments() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        RaiseLastOSError();
    const TLocalMemory<wchar_t*> owned(arguments);
    std::vector<std::string> result;
    for (int i = 1; i < count; ++i)
        result.push_back(Utf16ToUtf8(arguments[i]));
    return result;
}

// The full path, without "." steps and a trailing "\".
std::string FullPath(const std::string& path) {
    const std::wstring wide = Utf8ToUtf16(path);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            RaiseLastOSError();
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    return Utf16ToUtf8(full);
}

// The task that ships, res/korvel-task.xml, as korvel-setup.rc holds it: UTF-16 LE with its mark.
std::string ShippedTask() {
    const HRSRC resource =
        FindResourceW(nullptr, L"KORVEL_TASK", MAKEINTRESOURCEW(10)); // RT_RCDATA
    const HGLOBAL loaded = resource != nullptr ? LoadResource(nullptr, resource) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr)
        RaiseLastOSError();
    std::wstring_view text(static_cast<const wchar_t*>(data),
                           SizeofResource(nullptr, resource) / sizeof(wchar_t));
    if (text.starts_with(L'\xFEFF'))
        text.remove_prefix(1);
    return Utf16ToUtf8(text);
}

std::uint32_t Run(const std::vector<std::string>& arguments) {
    if (arguments.size() == 2) {
        const std::string& step = arguments[0];
        const std::string folder = FullPath(arguments[1]);
        if (step == "set-aside") {
            SetAside(folder);
            return 0;
        }
        if (step == "drop-aside") {
            DropAside(folder);
            return 0;
        }
        if (step == "add-task")
            return AddTask(ShippedTask(), folder);
        if (step == "remove-task")
            return RemoveTask(folder);
    }
    if (arguments.size() == 3 && arguments[0] == "lock") {
        Lock(FullPath(arguments[1]), arguments[2]);
        return 0;
    }
    return BadArguments;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // It runs from the installer's temporary folder: nothing may be loaded from there.
    RestrictDllSearchToSystem();
    try {
        return static_cast<int>(Run(Arguments()));
    } catch (const EOSError& e) {
        return static_cast<int>(e.ErrorCode() != 0 ? e.ErrorCode() : ERROR_GEN_FAILURE);
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}
