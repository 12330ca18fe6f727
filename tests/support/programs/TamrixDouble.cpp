// TamrixDouble: stands in for Tamrix in tests. Tests copy it to <app>\Tamrix.exe, where korvel
// starts it as "..\Tamrix.exe" without parameters, so everything it is to do comes from a script
// file beside it (its own path with the extension ".script"):
//
//   # comment: '#' starts a comment up to the end of the line
//   record_pid=1          write the own pid into ini=<path> (default <own folder>\korvel\korvel.ini)
//   pid_after_start_ms=0  0: record it before the start signal, as the kit asks; N: N ms after it
//   start=1               0: never signal the start
//   start_delay_ms=0      signal the start then; main and call pulses begin at the same moment
//   main_interval_ms=200  0: no main pulses;  main_stop_ms=-1: pulses stop from then on
//   call_interval_ms=200  0: no call pulses;  call_stop_ms=-1: likewise
//   busy_at_ms=-1         announce a long operation once
//   shutdown_ms=-1        signal the shutdown (start reset first unless keep_startup=1), exit 0
//   exit_ms=-1            exit with exit_code=0 without any signal, as a crash would
//   lifetime_ms=600000    exit 0 then at the latest, so a forgotten double never runs forever
//   window=0              1: a visible window; WM_CLOSE on it acts as shutdown_ms does at once
//                         2: a visible window that ignores WM_CLOSE
//                         3: as 1, but disabled behind a modal dialog that it owns
//   launch.2.main_stop_ms=3000   applies to the second launch only (launches counted from 1)
//
// Times are milliseconds from the program's start; -1 means never. No script at all gives a well-
// behaved Tamrix with the defaults above. Unknown keys and values that are no number are ignored.
//
// The launch number lives in <own path>.count. Every action appends one line to <own path with
// extension .trace>: "<GetTickCount64> <launch> <pid> <what>" with what one of started,
// pid-recorded, startup-set, main-pulse, call-pulse, main-stopped, call-stopped, busy, shutdown,
// close-request, close-ignored, exit.
#include "Handle.h"
#include "KorvelLink.h"
#include "KorvelProtocol.h"
#include "Module.h"
#include "PathText.h"
#include "SharedFile.h"
#include "WinApi.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr std::int64_t Never = -1;

struct TScript {
    std::int64_t RecordPid = 1;
    std::int64_t PidAfterStartMs = 0;
    std::string Ini;
    std::int64_t Start = 1;
    std::int64_t StartDelayMs = 0;
    std::int64_t MainIntervalMs = 200;
    std::int64_t CallIntervalMs = 200;
    std::int64_t MainStopMs = Never;
    std::int64_t CallStopMs = Never;
    std::int64_t BusyAtMs = Never;
    std::int64_t ShutdownMs = Never;
    std::int64_t KeepStartup = 0;
    std::int64_t ExitMs = Never;
    std::int64_t ExitCode = 0;
    std::int64_t LifetimeMs = 600000;
    std::int64_t Window = 0;
};

struct TNumberKey {
    std::string_view Name;
    std::int64_t TScript::*Field;
};

constexpr TNumberKey NumberKeys[] = {
    {"record_pid", &TScript::RecordPid},
    {"pid_after_start_ms", &TScript::PidAfterStartMs},
    {"start", &TScript::Start},
    {"start_delay_ms", &TScript::StartDelayMs},
    {"main_interval_ms", &TScript::MainIntervalMs},
    {"call_interval_ms", &TScript::CallIntervalMs},
    {"main_stop_ms", &TScript::MainStopMs},
    {"call_stop_ms", &TScript::CallStopMs},
    {"busy_at_ms", &TScript::BusyAtMs},
    {"shutdown_ms", &TScript::ShutdownMs},
    {"keep_startup", &TScript::KeepStartup},
    {"exit_ms", &TScript::ExitMs},
    {"exit_code", &TScript::ExitCode},
    {"lifetime_ms", &TScript::LifetimeMs},
    {"window", &TScript::Window},
};

std::string_view Trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

bool ParseNumber(std::string_view text, std::int64_t& value) {
    std::int64_t parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size())
        return false;
    value = parsed;
    return true;
}

void ApplyKey(TScript& script, std::string_view key, std::string_view value) {
    if (key == "ini") {
        script.Ini = std::string(value);
        return;
    }
    for (const TNumberKey& entry : NumberKeys)
        if (entry.Name == key) {
            ParseNumber(value, script.*entry.Field);
            return;
        }
}

// Plain keys first, then the overrides of this launch, so that an override wins wherever it
// stands in the file.
TScript ParseScript(std::string_view text, std::int64_t launch) {
    TScript script;
    const std::string launchPrefix = "launch." + std::to_string(launch) + ".";
    for (const bool overrides : {false, true}) {
        std::string_view rest = text;
        while (!rest.empty()) {
            const std::size_t end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            line = line.substr(0, line.find('#'));
            const std::size_t equals = line.find('=');
            if (equals == std::string_view::npos)
                continue;
            std::string_view key = Trim(line.substr(0, equals));
            const std::string_view value = Trim(line.substr(equals + 1));
            const bool isOverride = key.substr(0, 7) == "launch.";
            if (isOverride != overrides)
                continue;
            if (isOverride) {
                if (key.substr(0, launchPrefix.size()) != launchPrefix)
                    continue;
                key.remove_prefix(launchPrefix.size());
            }
            ApplyKey(script, key, value);
        }
    }
    return script;
}

// Reads, increments and writes back the launch counter under an exclusive open, so that two
// instances starting at the same moment still get different numbers.
std::int64_t NextLaunchNumber(const std::string& path) {
    THandle file;
    for (int attempt = 0; attempt < 200; ++attempt) {
        file.Reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        Sleep(10);
    }
    if (!file)
        return 1;
    char buffer[32] = {};
    DWORD read = 0;
    ReadFile(file.Get(), buffer, sizeof buffer - 1, &read, nullptr);
    std::int64_t previous = 0;
    ParseNumber(Trim(std::string_view(buffer, read)), previous);
    const std::string next = std::to_string(previous + 1);
    SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
    DWORD written = 0;
    WriteFile(file.Get(), next.data(), static_cast<DWORD>(next.size()), &written, nullptr);
    SetEndOfFile(file.Get());
    return previous + 1;
}

class TTrace {
public:
    TTrace(std::string path, std::int64_t launch) : FPath(std::move(path)), FLaunch(launch) {}

    // Opened and closed for every line, shared for reading and writing, so that a test can read
    // the trace while the double runs and a second instance can append to it at the same time.
    // FILE_APPEND_DATA alone makes every write land at the current end of the file.
    void Write(const char* what) const {
        char line[128];
        const int length = std::snprintf(line, sizeof line, "%llu %lld %lu %s\r\n",
                                         static_cast<unsigned long long>(GetTickCount64()),
                                         static_cast<long long>(FLaunch),
                                         static_cast<unsigned long>(GetCurrentProcessId()), what);
        THandle file;
        for (int attempt = 0; attempt < 100; ++attempt) {
            file.Reset(CreateFileA(FPath.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file || GetLastError() != ERROR_SHARING_VIOLATION)
                break;
            Sleep(10);
        }
        if (!file)
            return;
        DWORD written = 0;
        WriteFile(file.Get(), line, static_cast<DWORD>(length), &written, nullptr);
    }

private:
    std::string FPath;
    std::int64_t FLaunch;
};

// window=1 or 2: the window's state, on the main thread, which handles its messages between
// actions.
bool ClosesOnRequest = false;
bool CloseRequested = false;
const TTrace* WindowTrace = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_CLOSE)
        return DefWindowProcW(window, message, wParam, lParam);
    WindowTrace->Write(ClosesOnRequest ? "close-request" : "close-ignored");
    CloseRequested = ClosesOnRequest;
    return 0;
}

void ShowWindowOfDouble(const TTrace& trace, bool closesOnRequest, bool behindDialog) {
    ClosesOnRequest = closesOnRequest;
    WindowTrace = &trace;
    const WNDCLASSW windowClass{0,       WindowProc, 0,       0,       GetModuleHandleW(nullptr),
                                nullptr, nullptr,    nullptr, nullptr, L"TamrixDouble"};
    RegisterClassW(&windowClass);
    HWND main = CreateWindowExW(0, L"TamrixDouble", L"Tamrix", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                0, 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!behindDialog)
        return;
    // As "Save changes?" stands: owned by the main window, which is disabled while it shows.
    const WNDCLASSW dialogClass{0,       DefWindowProcW, 0,       0,       windowClass.hInstance,
                                nullptr, nullptr,        nullptr, nullptr, L"TamrixDoubleDialog"};
    RegisterClassW(&dialogClass);
    CreateWindowExW(WS_EX_DLGMODALFRAME, L"TamrixDoubleDialog", L"Save changes?",
                    WS_POPUP | WS_CAPTION | WS_VISIBLE, 50, 50, 150, 80, main, nullptr,
                    windowClass.hInstance, nullptr);
    EnableWindow(main, FALSE);
}

bool IsDue(std::int64_t at, std::int64_t now) {
    return at != Never && at <= now;
}

int Run() {
    const std::string ownPath = ModuleFileName();
    const std::int64_t launch = NextLaunchNumber(ownPath + ".count");
    // A missing script gives empty text: the defaults then apply.
    const TScript script =
        ParseScript(ReadSharedFile(ChangeFileExt(ownPath, ".script")).value_or(""), launch);
    const TTrace trace(ChangeFileExt(ownPath, ".trace"), launch);

    // The clock starts after the first line, so that the trace shows every scheduled action at
    // least its time after "started".
    trace.Write("started");
    const ULONGLONG origin = GetTickCount64();
    const auto elapsed = [origin] { return static_cast<std::int64_t>(GetTickCount64() - origin); };

    TKorvelLink link;
    const auto recordPid = [&] {
        const std::string ini =
            script.Ini.empty() ? TKorvelLink::WatchdogIniPath(std::string(ExtractFileDir(ownPath)))
                               : script.Ini;
        if (TKorvelLink::RecordProcessIdUtf8(ini))
            trace.Write("pid-recorded");
    };
    const bool lateRecord = script.RecordPid != 0 && script.PidAfterStartMs > 0;
    if (script.RecordPid != 0 && !lateRecord)
        recordPid();
    if (script.Window != 0)
        ShowWindowOfDouble(trace, script.Window != 2, script.Window == 3);

    const std::int64_t pulsesFrom = std::max<std::int64_t>(script.StartDelayMs, 0);
    std::int64_t startupAt = script.Start != 0 ? script.StartDelayMs : Never;
    std::int64_t recordAt =
        lateRecord && startupAt != Never ? startupAt + script.PidAfterStartMs : Never;
    std::int64_t nextMain = script.MainIntervalMs > 0 ? pulsesFrom : Never;
    std::int64_t nextCall = script.CallIntervalMs > 0 ? pulsesFrom : Never;
    std::int64_t mainStopAt = script.MainStopMs;
    std::int64_t callStopAt = script.CallStopMs;
    std::int64_t busyAt = script.BusyAtMs;
    const std::int64_t shutdownAt = script.ShutdownMs;
    const std::int64_t exitAt = script.ExitMs;
    const std::int64_t lifetimeEnd = script.LifetimeMs;

    // A pulse due before its stop time still goes out, even when the loop wakes late.
    const auto pulse = [&](std::int64_t& next, std::int64_t stopAt, std::int64_t interval,
                           std::int64_t now, void (TKorvelLink::*signal)() noexcept,
                           const char* what) {
        if (!IsDue(next, now))
            return;
        if (stopAt != Never && next >= stopAt) {
            next = Never;
            return;
        }
        (link.*signal)();
        trace.Write(what);
        next += interval;
        if (next <= now)
            next = now + interval;
    };

    for (;;) {
        const std::int64_t now = elapsed();
        if (IsDue(startupAt, now)) {
            link.SignalStartup();
            trace.Write("startup-set");
            startupAt = Never;
        }
        if (IsDue(recordAt, now)) {
            recordPid();
            recordAt = Never;
        }
        pulse(nextMain, mainStopAt, script.MainIntervalMs, now, &TKorvelLink::PulseMainThread,
              "main-pulse");
        pulse(nextCall, callStopAt, script.CallIntervalMs, now, &TKorvelLink::PulseCallStream,
              "call-pulse");
        if (IsDue(mainStopAt, now)) {
            nextMain = Never;
            mainStopAt = Never;
            trace.Write("main-stopped");
        }
        if (IsDue(callStopAt, now)) {
            nextCall = Never;
            callStopAt = Never;
            trace.Write("call-stopped");
        }
        if (IsDue(busyAt, now)) {
            link.AnnounceBusy();
            trace.Write("busy");
            busyAt = Never;
        }
        // A close request is a normal end, as the user's click on the close box gives one.
        if (IsDue(shutdownAt, now) || CloseRequested) {
            // Traced first, so that the process ends right after the signal, as a real Tamrix
            // may: the watchdog must cope with the end arriving before it has taken the shutdown.
            trace.Write("shutdown");
            trace.Write("exit");
            if (script.KeepStartup != 0) {
                // Bypasses the link on purpose: it always resets the start first, and this is
                // how a test shows the watchdog a start still set after the shutdown.
                THandle shutdown(CreateEventA(nullptr, TRUE, FALSE, KorvelProtocol::ShutdownEvent));
                if (shutdown)
                    SetEvent(shutdown.Get());
            } else {
                link.SignalShutdown();
            }
            return 0;
        }
        if (IsDue(exitAt, now)) {
            trace.Write("exit");
            return static_cast<int>(script.ExitCode);
        }
        if (IsDue(lifetimeEnd, now)) {
            trace.Write("exit");
            return 0;
        }

        std::int64_t wake = Never;
        for (const std::int64_t at : {startupAt, recordAt, nextMain, nextCall, mainStopAt,
                                      callStopAt, busyAt, shutdownAt, exitAt, lifetimeEnd})
            if (at != Never && (wake == Never || at < wake))
                wake = at;
        if (wake == Never)
            wake = now + 1000; // Nothing left to do but the lifetime was never: idle.
        const std::int64_t pause = wake - elapsed();
        const DWORD wait = static_cast<DWORD>(std::min<std::int64_t>(pause, 0x7FFFFFFF));
        // Without a window, no message queue: the double stays what it was for every other test.
        // A message ends the pause early; the next pass sleeps on.
        if (pause > 0 && script.Window == 0)
            Sleep(wait);
        else if (pause > 0 && MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT) == 0)
            for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
                DispatchMessageW(&message);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        return Run();
    } catch (...) {
        // ModuleFileName is the only step that raises; without the own path nothing can run.
        return 3;
    }
}
