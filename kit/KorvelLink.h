// TKorvelLink: the application's side of the korvel watchdog protocol. Link this unit into the
// supervised application (Tamrix); it needs nothing but Win32 and the standard library.
//
//   TKorvelLink link;                                  // opens the five events
//   TKorvelLink::RecordProcessId(TKorvelLink::WatchdogIniPath(appDir)); // before SignalStartup
//   link.SignalStartup();                              // once the application runs
//   ... main thread, more often than main_timeout:     link.PulseMainThread();
//   ... before an operation longer than main_timeout:  link.AnnounceBusy();
//   ... call-stream thread, more often than call_stream_timeout: link.PulseCallStream();
//   link.SignalShutdown();                             // when the application ends normally
//
// Every call is safe from any thread and costs one kernel call; none blocks, but RecordProcessId
// waits up to 2 s for a file that another program holds, and reads and may write the registry.
#pragma once

#include <cstdint>
#include <string>

class TKorvelLink {
public:
    // Opens the five events, creating each (manual reset, unset) when it does not exist yet, as
    // the watchdog does. IsOpen() tells whether all five could be opened.
    TKorvelLink();
    ~TKorvelLink();
    TKorvelLink(const TKorvelLink&) = delete;
    TKorvelLink& operator=(const TKorvelLink&) = delete;

    bool IsOpen() const noexcept;
    // The OS error code of the first event that could not be opened; 0 when all are open.
    std::uint32_t OpenError() const noexcept { return FOpenError; }

    // The application runs: supervision begins.
    void SignalStartup() noexcept;
    // The main thread is alive.
    void PulseMainThread() noexcept;
    // The main thread starts a long operation: the watchdog allows busy_timeout instead of
    // main_timeout and call_stream_timeout until the next PulseMainThread.
    void AnnounceBusy() noexcept;
    // The call-stream thread is alive.
    void PulseCallStream() noexcept;
    // The application ends normally: resets its start first, so that the watchdog does not take
    // the shutdown for a new start, then signals the shutdown.
    void SignalShutdown() noexcept;

    // Records this process's id where the watchdog reads it, and gives whether it could. Its INI
    // file: process_id in section Application, in decimal, tried again for up to 2 s while another
    // program holds the file. In the machine-wide layout, where the INI file is the
    // administrators' and never written by the application, the user's own place instead
    // (KorvelProtocol.h); and there too whenever the file cannot be written (users may only read
    // it in a machine-wide install), though the result is then false. The path as wide text, as
    // GetModuleFileNameW gives it, or as UTF-8; bytes that are not UTF-8 become U+FFFD.
    static bool RecordProcessId(const std::wstring& watchdogIniPath);
    static bool RecordProcessIdUtf8(const std::string& watchdogIniPath);
    // The same for a path in the ANSI code page, as GetModuleFileNameA gives it: a folder named
    // outside that code page ("?" in its name) is not found, and nothing is recorded.
    [[deprecated("an ANSI path cannot name every user's folder: pass the path as std::wstring, "
                 "or as UTF-8 to RecordProcessIdUtf8")]] static bool
    RecordProcessId(const std::string& watchdogIniPath);
    // The watchdog's INI file for an application folder laid out as korvel expects it:
    // <applicationDir>\korvel\korvel.ini. A narrow folder gives a path in the same encoding.
    static std::string WatchdogIniPath(const std::string& applicationDir);
    static std::wstring WatchdogIniPath(const std::wstring& applicationDir);

private:
    enum { MainThread, MainThreadBusy, Startup, Shutdown, CallStream, EventCount };
    void Set(int index) noexcept;

    void* FEvents[EventCount] = {};
    std::uint32_t FOpenError = 0;
};
