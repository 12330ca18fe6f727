// HangDouble: a Tamrix double that hangs inside functions of known names, for the tests of where a
// hung Tamrix is stuck. Built with clang and lld (tests/support/programs/BuildHangDouble.sh), so
// that its names live in a PDB only: no DWARF that Wine's dbghelp would read, while Windows'
// never does. Tests copy bin\hangdouble\Tamrix.exe, and Tamrix.pdb when the names are wanted, into
// the application folder.
//
// It records its pid in <own folder>\korvel\korvel.ini, signals its start, and pulses the main
// heartbeat from its main thread and the call-stream heartbeat from a thread of its own, every
// 100 ms. A script beside it (its own path with the extension ".script"), keys as TamrixDouble's:
//
//   hang_main_ms=-1   the main thread enters HangOnMainThread then and never returns
//   hang_call_ms=-1   the call-stream thread enters HangOnCallStream then and never returns
//   workers=0         threads that wait from the start in the exported TamrixWorkerWait
//   lifetime_ms=120000  the process ends then, hung or not
//   launch.2.hang_main_ms=-1   applies to the second launch only
//
// The launch number lives in <own path>.count; the trace (<own path with extension .trace>)
// gets TamrixDouble's lines: started, pid-recorded, startup-set, hanging-main, hanging-call.
#include "KorvelLink.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct TScript {
    long long HangMainMs = -1;
    long long HangCallMs = -1;
    long long Workers = 0;
    long long LifetimeMs = 120000;
};

std::string OwnPath() {
    char path[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

std::string WithExtension(const std::string& path, const char* extension) {
    const std::size_t dot = path.rfind('.');
    return path.substr(0, dot) + extension;
}

std::string ReadText(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    char buffer[4096];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    return std::string(buffer, read);
}

// Plain keys first, then those of this launch, wherever they stand.
TScript ParseScript(const std::string& text, long long launch) {
    TScript script;
    const std::string own = "launch." + std::to_string(launch) + ".";
    for (const bool overrides : {false, true}) {
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(at, end - at);
            at = end + 1;
            line = line.substr(0, line.find('#'));
            const std::size_t equals = line.find('=');
            if (equals == std::string::npos)
                continue;
            std::string key = line.substr(0, equals);
            if ((key.rfind("launch.", 0) == 0) != overrides)
                continue;
            if (overrides) {
                if (key.rfind(own, 0) != 0)
                    continue;
                key = key.substr(own.size());
            }
            const long long value = std::strtoll(line.c_str() + equals + 1, nullptr, 10);
            if (key == "hang_main_ms")
                script.HangMainMs = value;
            else if (key == "hang_call_ms")
                script.HangCallMs = value;
            else if (key == "workers")
                script.Workers = value;
            else if (key == "lifetime_ms")
                script.LifetimeMs = value;
        }
    }
    return script;
}

long long NextLaunch(const std::string& path) {
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 200 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
        if (file == INVALID_HANDLE_VALUE)
            Sleep(10);
    }
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    char buffer[32] = {};
    DWORD done = 0;
    ReadFile(file, buffer, sizeof buffer - 1, &done, nullptr);
    const std::string next = std::to_string(std::strtoll(buffer, nullptr, 10) + 1);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    WriteFile(file, next.data(), static_cast<DWORD>(next.size()), &done, nullptr);
    SetEndOfFile(file);
    CloseHandle(file);
    return std::strtoll(next.c_str(), nullptr, 10);
}

std::string TracePath;
long long Launch = 0;

void Trace(const char* what) {
    char line[128];
    const int length = std::snprintf(line, sizeof line, "%llu %lld %lu %s\r\n",
                                     static_cast<unsigned long long>(GetTickCount64()), Launch,
                                     GetCurrentProcessId(), what);
    const HANDLE file = CreateFileA(TracePath.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

// Never set: whoever waits on it waits until the process ends.
HANDLE Never = nullptr;
TKorvelLink* Link = nullptr;
TScript Script;

} // namespace

// Not exported, and outside any namespace, so that the PDB names them plainly. Something follows each wait, so that the call is no tail
// call and the function keeps a frame of its own.
static __attribute__((noinline)) void HangOnMainThread() {
    Trace("hanging-main");
    WaitForSingleObject(Never, INFINITE);
    Trace("woke");
}

static __attribute__((noinline)) void HangOnCallStream() {
    Trace("hanging-call");
    WaitForSingleObject(Never, INFINITE);
    Trace("woke");
}

namespace {

DWORD WINAPI CallStream(void*) {
    for (long long elapsed = 0;; elapsed += 100) {
        if (Script.HangCallMs >= 0 && elapsed >= Script.HangCallMs)
            HangOnCallStream();
        Link->PulseCallStream();
        Sleep(100);
    }
}

DWORD WINAPI Lifetime(void*) {
    Sleep(static_cast<DWORD>(Script.LifetimeMs));
    ExitProcess(0);
}

} // namespace

// Exported, so that the exports name it when no PDB does.
extern "C" __declspec(dllexport) __attribute__((noinline)) DWORD WINAPI TamrixWorkerWait(void*) {
    WaitForSingleObject(Never, INFINITE);
    Trace("woke");
    return 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string own = OwnPath();
    Launch = NextLaunch(own + ".count");
    TracePath = WithExtension(own, ".trace");
    Script = ParseScript(ReadText(WithExtension(own, ".script")), Launch);
    Trace("started");
    Never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CreateThread(nullptr, 0, Lifetime, nullptr, 0, nullptr);
    TKorvelLink link;
    Link = &link;
    const std::string folder = own.substr(0, own.rfind('\\'));
    if (TKorvelLink::RecordProcessIdUtf8(TKorvelLink::WatchdogIniPath(folder)))
        Trace("pid-recorded");
    for (long long i = 0; i < Script.Workers; ++i)
        CreateThread(nullptr, 0, TamrixWorkerWait, nullptr, 0, nullptr);
    link.SignalStartup();
    Trace("startup-set");
    CreateThread(nullptr, 0, CallStream, nullptr, 0, nullptr);
    for (long long elapsed = 0;; elapsed += 100) {
        if (Script.HangMainMs >= 0 && elapsed >= Script.HangMainMs)
            HangOnMainThread();
        link.PulseMainThread();
        Sleep(100);
    }
}
