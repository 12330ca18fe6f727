#include "EventLog.h"

#include "EventLogText.h"
#include "Unicode.h"
#include "WinApi.h"

#include <string>

TEventLog::TEventLog(bool on) {
    if (!on)
        return;
    // Windows registers a source that nobody declared in the registry as well; Event Viewer then
    // shows the line with a note that the description of the id was not found.
    FSource = RegisterEventSourceW(nullptr, L"korvel");
}

TEventLog::~TEventLog() {
    if (FSource)
        DeregisterEventSource(FSource);
}

void TEventLog::Report(std::string_view line) const noexcept {
    if (!FSource)
        return;
    const std::optional<TEventLogEntry> entry = EventLogEntryFor(line);
    if (!entry)
        return;
    const DWORD lastError = GetLastError();
    try {
        const std::wstring text = Utf8ToUtf16(line);
        LPCWSTR strings[] = {text.c_str()};
        ReportEventW(FSource, static_cast<WORD>(entry->Level), 0, entry->Id, nullptr, 1, 0, strings,
                     nullptr);
    } catch (...) {
        // Out of memory, or text that does not convert: the line is in the log file all the same.
    }
    SetLastError(lastError);
}
