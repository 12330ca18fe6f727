// SampleApp: the smallest application that korvel can supervise, for integrators to copy.
//
// What korvel needs from the application, all through TKorvelLink:
//   1. record the process id where korvel reads it (its INI file; in a machine-wide install, the
//      user's own place in the registry), so that korvel can terminate a hung instance;
//   2. signal the start;
//   3. pulse the main thread more often than main_timeout, from the main thread itself;
//   4. pulse the call stream more often than call_stream_timeout, from the thread that serves it;
//   5. signal the shutdown when ending normally.
// Install it as <application folder>\Tamrix.exe with korvel in <application folder>\korvel\.
//
// korvel starts the application without parameters, so the demo behaviour comes from an optional
// file beside the executable, its own path with the extension ".demo", one key=value a line:
//   hang_after_s=4     the main thread stops pulsing after 4 s, as a hang; the call stream goes on
//   hang_launches=1    hang_after_s applies to the first launch only (0 or absent: every launch)
//   run_s=8            shut down cleanly after 8 s (0 or absent: run until terminated)
// Lines starting with '#' and unknown keys are ignored. The launches are counted in a file beside
// the executable (own path with ".count"), only while a ".demo" file exists. Without a ".demo"
// file the application pulses until it is terminated.
#include "KorvelLink.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

// Well below the shortest timeout korvel accepts (1 s).
constexpr DWORD PulseIntervalMs = 500;

struct TDemoPlan {
    unsigned HangAfterS = 0;   // 0: never hangs
    unsigned HangLaunches = 0; // 0: every launch hangs
    unsigned RunS = 0;         // 0: runs until terminated
};

// Wide text, never the ANSI code page: that cannot name the folder of a user called "Łukasz" on a
// Western Windows, or of one called "Жанна" anywhere but on a Cyrillic one.
std::wstring OwnPath() {
    std::wstring path(32768, L'\0'); // the longest path Windows knows
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::wstring WithExtension(const std::wstring& path, const wchar_t* extension) {
    const auto dot = path.find_last_of(L'.');
    const auto slash = path.find_last_of(L"\\/:");
    const bool hasExtension =
        dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + extension;
}

// A missing file gives the plan of a well-behaved application. A filesystem::path opens the file
// by its wide name.
TDemoPlan ReadDemoPlan(const std::filesystem::path& demoPath) {
    TDemoPlan plan;
    std::ifstream file(demoPath);
    std::string line;
    while (std::getline(file, line)) {
        const auto equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        unsigned value = 0;
        const char* first = line.data() + equals + 1;
        if (std::from_chars(first, line.data() + line.size(), value).ec != std::errc())
            continue;
        if (key == "hang_after_s")
            plan.HangAfterS = value;
        else if (key == "hang_launches")
            plan.HangLaunches = value;
        else if (key == "run_s")
            plan.RunS = value;
    }
    return plan;
}

// 1 for the first launch, 2 for the second, ...
unsigned NextLaunchNumber(const std::filesystem::path& counterPath) {
    unsigned previous = 0;
    std::ifstream(counterPath) >> previous;
    std::ofstream(counterPath, std::ios::trunc) << previous + 1;
    return previous + 1;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::wstring ownPath = OwnPath();
    const std::wstring ownFolder = ownPath.substr(0, ownPath.find_last_of(L'\\'));

    TDemoPlan plan;
    const std::wstring demoPath = WithExtension(ownPath, L".demo");
    if (GetFileAttributesW(demoPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        plan = ReadDemoPlan(demoPath);
        const unsigned launch = NextLaunchNumber(WithExtension(ownPath, L".count"));
        if (plan.HangLaunches != 0 && launch > plan.HangLaunches)
            plan.HangAfterS = 0;
    }

    TKorvelLink link;
    if (!link.IsOpen())
        return 1;
    // The id first: from the moment korvel knows of this instance it may have to terminate it.
    // Should the record fail, korvel can still relaunch, but not terminate, this instance (in a
    // machine-wide install it then looks for it by its image). The folder as wide text, so that
    // any user's folder name is found. The kit itself knows where the id goes.
    TKorvelLink::RecordProcessId(TKorvelLink::WatchdogIniPath(ownFolder));
    link.SignalStartup();

    // The call stream's own thread: its pulse says that this thread, not just the process, lives.
    std::atomic<bool> stopping{false};
    std::thread callStream([&] {
        while (!stopping) {
            link.PulseCallStream();
            Sleep(PulseIntervalMs);
        }
    });

    // The main thread pulses from its own loop. An application with a message loop pulses from a
    // WM_TIMER handler instead: the timer message arrives only while the loop is served, which is
    // exactly what korvel wants to know.
    const ULONGLONG started = GetTickCount64();
    for (;;) {
        const ULONGLONG elapsedMs = GetTickCount64() - started;
        if (plan.HangAfterS != 0 && elapsedMs >= plan.HangAfterS * 1000ULL)
            Sleep(INFINITE); // the hang: korvel sees no more main pulses and terminates us
        if (plan.RunS != 0 && elapsedMs >= plan.RunS * 1000ULL)
            break;
        link.PulseMainThread();
        Sleep(PulseIntervalMs);
    }

    // A clean end: no pulse after the shutdown signal.
    stopping = true;
    callStream.join();
    link.SignalShutdown();
    return 0;
}
