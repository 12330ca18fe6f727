// TEventLog: korvel's events in the Windows Application log, under the source "korvel", with the
// log's own line as the event's one string (event_log=1 of section Log).
//
// Threads: constructed and destroyed by the main thread; Report runs on any thread.
#pragma once

#include <string_view>

class TEventLog {
public:
    // on false: reports nothing, and registers no source. A source the system refuses leaves the
    // log reporting nothing as well: the event log is a copy, never a reason to stop supervising.
    explicit TEventLog(bool on);
    ~TEventLog();
    TEventLog(const TEventLog&) = delete;
    TEventLog& operator=(const TEventLog&) = delete;

    // Reports the completed log line when it is one of the events (EventLogEntryFor). A refused
    // report is dropped; the thread's last error stays as it was.
    void Report(std::string_view line) const noexcept;

private:
    // RegisterEventSourceW's handle, which DeregisterEventSource closes (not CloseHandle, so not
    // a THandle); null while off.
    void* FSource = nullptr;
};
