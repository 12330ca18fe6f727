#include "PackageSteps.h"

#include "Errors.h"
#include "FindFiles.h"
#include "Handle.h"
#include "PrivateFile.h"
#include "TaskXml.h"
#include "Unicode.h"
#include "WinApi.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string_view>

namespace {

constexpr std::string_view AsidePrefix = "korvel.exe.";
constexpr std::string_view AsideSuffix = ".old";

bool IsAsideName(std::string_view name) {
    return name.size() > AsidePrefix.size() + AsideSuffix.size() && name.starts_with(AsidePrefix) &&
           name.ends_with(AsideSuffix);
}

// korvel.exe.<the time as 16 hex digits>.old: names that sort by their age and never meet one
// that is still there.
std::string AsideName(const std::string& folder) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    char digits[17];
    std::snprintf(digits, sizeof digits, "%08lX%08lX", now.dwHighDateTime, now.dwLowDateTime);
    return folder + "\\" + std::string(AsidePrefix) + digits + std::string(AsideSuffix);
}

// The system's schtasks with arguments; its exit code once it has ended.
std::uint32_t RunSchtasks(const std::wstring& arguments) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        RaiseLastOSError();
    const std::wstring program = std::wstring(system, length) + L"\\schtasks.exe";
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process))
        RaiseLastOSError();
    const THandle processHandle(process.hProcess);
    const THandle threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.Get(), INFINITE) != WAIT_OBJECT_0)
        RaiseLastOSError();
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(processHandle.Get(), &exitCode))
        RaiseLastOSError();
    return exitCode;
}

// UTF-16 LE with a byte-order mark, as the Task Scheduler writes its own tasks.
void WriteUtf16File(const std::string& path, const std::string& text) {
    const std::wstring wide = L"\xFEFF" + Utf8ToUtf16(text);
    const THandle file(CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        RaiseLastOSError();
    const DWORD size = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    DWORD written = 0;
    if (!WriteFile(file.Get(), wide.data(), size, &written, nullptr) || written != size)
        RaiseLastOSError();
}

std::wstring Quoted(const std::string& text) {
    return L"\"" + Utf8ToUtf16(text) + L"\"";
}

} // namespace

void SetAside(const std::string& folder) {
    DropAside(folder);
    const std::wstring exe = Utf8ToUtf16(folder + "\\korvel.exe");
    if (GetFileAttributesW(exe.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    const std::wstring aside = Utf8ToUtf16(AsideName(folder));
    if (!MoveFileW(exe.c_str(), aside.c_str()))
        RaiseLastOSError();
    if (!CopyFileW(aside.c_str(), exe.c_str(), TRUE)) {
        const DWORD error = GetLastError();
        // As it was: the installer then meets the running file as it would have without this step.
        MoveFileW(aside.c_str(), exe.c_str());
        RaiseOSError(TOSFailure::Call, error);
    }
}

void DropAside(const std::string& folder) {
    for (const TFoundFile& found : FindFiles(folder + "\\korvel.exe.*.old")) {
        if (!IsAsideName(found.Name))
            continue;
        const std::wstring path = Utf8ToUtf16(folder + "\\" + found.Name);
        // A running image cannot be deleted; failing even this, the next installation tries again.
        if (!DeleteFileW(path.c_str()))
            MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

std::uint32_t AddTask(const std::string& xml, const std::string& folder) {
    const std::string path = folder + "\\korvel-task.xml";
    WriteUtf16File(path, TaskXmlFor(xml, folder));
    return RunSchtasks(L"/Create /XML " + Quoted(path) + L" /TN " + Quoted(TaskName) + L" /F");
}

std::uint32_t RemoveTask(const std::string& folder) {
    const std::uint32_t exitCode = RunSchtasks(L"/Delete /TN " + Quoted(TaskName) + L" /F");
    DeleteFileW(Utf8ToUtf16(folder + "\\korvel-task.xml").c_str());
    return exitCode;
}

void Lock(const std::string& file, const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            Utf8ToUtf16(sddl).c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        RaiseLastOSError();
    const TLocalMemory<void> owned(descriptor);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        RaiseLastOSError();
    std::wstring path = Utf8ToUtf16(file);
    const DWORD error =
        SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS)
        RaiseOSError(TOSFailure::Call, error);
}
