// Which log lines become which events, and korvel.exe's message table rendering each of them.
#include "EventLogText.h"
#include "Processes.h"
#include "Unicode.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace KorvelEventId;
constexpr auto Info = TEventLevel::Information, Warning = TEventLevel::Warning,
               Error = TEventLevel::Error;

struct EventCase {
    std::string line;
    std::uint32_t id; // 0: no event
    TEventLevel level;
};

const std::vector<EventCase> Table = {
    {"Korvel started.", Started, Info},
    {"Korvel shut down.", ShutDown, Info},
    {"Main thread not responding.", MainThreadNotResponding, Warning},
    {"Call stream thread not responding.", CallStreamNotResponding, Warning},
    {"Process ended with exit code 0xC0000005.", ProcessEnded, Warning},
    {"Trying to start...wait 4 sec...wait 5 sec...success", Restarted, Info},
    {"Trying to dump...success (Tamrix-20260101-120000-42.dmp)", Dumped, Info},
    {"Trying to kill...failed - process 7 is a.exe, not Tamrix.exe", KillRefused, Error},
    {"Trying to close...failed - process 7 runs in another logon session", CloseRefused, Error},
    {"Restart failed. Please run the application manually.", RestartFailed, Error},
    {"Fatal error: Event object destroyed.", FatalError, Error},
    {"Application Error: Exception EInOutError in module korvel.exe at 0001A2B3. Disk full.",
     FatalError, Error},
    // hang_stack: the hang's event carries the site lines that followed its line.
    {"Main thread not responding.\r\nHang site: ntdll+0xebe4 < Tamrix!HangOnMainThread+0x22",
     MainThreadNotResponding, Warning},
    {"Call stream thread not responding.\r\nHang site: thread 8: Tamrix!Wait+0x1b\r\n"
     "Hang site: thread 9: failed - no frame",
     CallStreamNotResponding, Warning},
    // Steps that went as planned, or whose failure the next step reports.
    {"Trying to close...success", 0, Info},
    {"Trying to close...failed - timed out", 0, Info},
    {"Trying to close...failed - no window", 0, Info},
    {"Trying to kill...success", 0, Info},
    {"Trying to start...wait 19 sec...failed", 0, Info},
    {"Trying to dump...failed - no process id recorded", 0, Info},
    {"Korvel started. ", 0, Info},
    {"Hang site: Tamrix!HangOnMainThread+0x22", 0, Info},
    {"Main thread not responding. \r\nHang site: Tamrix!HangOnMainThread+0x22", 0, Info},
};

// Event Viewer shows the line itself for every id, once the source names korvel.exe.
TEST(EventLogTextTest, LinesToEventsThatTheMessageTableShowsAsThemselves) {
    const HMODULE korvel = LoadLibraryExW(Utf8ToUtf16(TestBinDirectory() + "\\korvel.exe").c_str(),
                                          nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(korvel, nullptr) << GetLastError();
    for (const EventCase& c : Table) {
        const std::optional<TEventLogEntry> entry = EventLogEntryFor(c.line);
        EXPECT_EQ(entry, c.id == 0 ? std::nullopt : std::optional(TEventLogEntry{c.id, c.level}))
            << c.line;
        if (c.id == 0)
            continue; // no event, so no message: the mapping above is the row's whole check
        const std::wstring text = Utf8ToUtf16(c.line);
        DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(text.c_str())};
        wchar_t shown[512] = {};
        const DWORD length =
            FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, korvel,
                           c.id, 0, shown, 512, reinterpret_cast<va_list*>(arguments));
        EXPECT_EQ(Utf16ToUtf8(std::wstring(shown, length)), c.line + "\r\n") << c.id;
    }
    FreeLibrary(korvel);
}

} // namespace
