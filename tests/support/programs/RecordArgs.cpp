// RecordArgs.exe: a child program for the tests. Appends one line, its tick count
// (GetTickCount64), a blank and its full command line, to the file named in RECORD_ARGS_FILE, and
// ends with exit code 0. When RECORD_ARGS_HOLD names an event, it then waits (at most 60 s) for
// that event before ending, so a test can tell whether its starter waited for it.
#include "Handle.h"
#include "Unicode.h"
#include "WinApi.h"

#include <string>

namespace {

// Wide: Wine's GetEnvironmentVariableA cuts a UTF-8 value to its count of UTF-16 units.
std::string Environment(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? Utf16ToUtf8(std::wstring_view(value, length))
                                       : std::string();
}

void AppendLine(const std::string& fileName, const std::string& line) {
    // Several instances may append at once: FILE_APPEND_DATA writes each line whole at the end.
    const THandle file(CreateFileA(fileName.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string ticks = std::to_string(GetTickCount64());
    const std::string fileName = Environment(L"RECORD_ARGS_FILE");
    if (!fileName.empty())
        AppendLine(fileName, ticks + " " + GetCommandLineA() + "\r\n");
    const std::string hold = Environment(L"RECORD_ARGS_HOLD");
    if (!hold.empty()) {
        const THandle event(OpenEventA(SYNCHRONIZE, FALSE, hold.c_str()));
        if (event)
            WaitForSingleObject(event.Get(), 60000);
    }
    return 0;
}
