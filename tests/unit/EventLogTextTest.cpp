// Which log lines become which events, and korvel.exe's message table rendering each of them.
#include "EventLogText.h"
#include "Handle.h"
#include "Processes.h"
#include "Unicode.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace KorvelEventId;
using Level = TEventLevel;

const std::vector<std::pair<std::string, std::optional<TEventLogEntry>>> Table = {
    {"Korvel started.", TEventLogEntry{Started, Level::Information}},
    {"Korvel shut down.", TEventLogEntry{ShutDown, Level::Information}},
    {"Main thread not responding.", TEventLogEntry{MainThreadNotResponding, Level::Warning}},
    {"Call stream thread not responding.", TEventLogEntry{CallStreamNotResponding, Level::Warning}},
    {"Process ended with exit code 0xC0000005.", TEventLogEntry{ProcessEnded, Level::Warning}},
    {"Trying to start...wait 4 sec...wait 5 sec...success",
     TEventLogEntry{Restarted, Level::Information}},
    {"Trying to dump...success (Tamrix-20260101-120000-42.dmp)",
     TEventLogEntry{Dumped, Level::Information}},
    {"Trying to kill...failed - process 7 is a.exe, not Tamrix.exe",
     TEventLogEntry{KillRefused, Level::Error}},
    {"Trying to close...failed - process 7 runs in another logon session",
     TEventLogEntry{CloseRefused, Level::Error}},
    {"Restart failed. Please run the application manually.",
     TEventLogEntry{RestartFailed, Level::Error}},
    {"Fatal error: Event object destroyed.", TEventLogEntry{FatalError, Level::Error}},
    {"Fatal error: EIniFileException: Unable to write to k.ini",
     TEventLogEntry{FatalError, Level::Error}},
    // Steps that went as planned, or whose failure the next step reports.
    {"Process detected.", std::nullopt},
    {"Trying to kill...success", std::nullopt},
    {"Trying to close...success", std::nullopt},
    {"Trying to close...failed - timed out", std::nullopt},
    {"Trying to close...failed - no window", std::nullopt},
    {"Trying to start...wait 19 sec...failed", std::nullopt},
    {"Trying to start...wait 4 sec...Monitor terminated", std::nullopt},
    {"Trying to dump...failed - no process id recorded", std::nullopt},
    {"Korvel started. ", std::nullopt},
};

TEST(EventLogTextTest, LinesToEvents) {
    for (const auto& [line, entry] : Table)
        EXPECT_EQ(EventLogEntryFor(line), entry) << line;
}

// Event Viewer shows the line itself for every id, once the source names korvel.exe.
TEST(EventLogTextTest, MessageTableRendersEveryId) {
    const HMODULE korvel = LoadLibraryExW(Utf8ToUtf16(TestBinDirectory() + "\\korvel.exe").c_str(),
                                          nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(korvel, nullptr) << GetLastError();
    for (const auto& [line, entry] : Table) {
        if (!entry)
            continue;
        const std::wstring text = Utf8ToUtf16(line);
        const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(text.c_str())};
        wchar_t shown[512] = {};
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, korvel, entry->Id, 0,
            shown, 512, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
        EXPECT_EQ(Utf16ToUtf8(std::wstring(shown, length)), line + "\r\n") << entry->Id;
    }
    FreeLibrary(korvel);
}

} // namespace
