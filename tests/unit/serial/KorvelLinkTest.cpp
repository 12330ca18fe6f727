// The application's side of the protocol (TKorvelLink) against the watchdog's side
// (TKorvelEvents): both must name the same kernel events, and the pid record must land where
// the watchdog reads it.
#include "FKorvelEvents.h"
#include "Handle.h"
#include "KorvelLink.h"
#include "Registry.h"
#include "support/MachineWideBed.h"
#include "support/TempDir.h"
#include "Unicode.h"
#include "WinApi.h"

#include "WatchdogEvents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <optional>
#include <string>
#include <thread>

namespace {

std::string ReadIni(const std::string& path, const char* section, const char* key) {
    char value[256] = {};
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, path.c_str());
    return value;
}

class KorvelLinkTest : public TWatchdogEventsTest {};

struct TCallCase {
    const char* Name;
    void (TKorvelLink::*Call)() noexcept;
    const char* Expected;
};

class KorvelLinkCallTest : public KorvelLinkTest, public testing::WithParamInterface<TCallCase> {};

TEST_P(KorvelLinkCallTest, SetsItsOwnEventOnly) {
    TKorvelLink link;
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.OpenError(), 0u);
    (link.*GetParam().Call)();
    EXPECT_EQ(WatchdogStates(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, KorvelLinkCallTest,
    testing::Values(TCallCase{"PulseMainThread", &TKorvelLink::PulseMainThread, "10000"},
                    TCallCase{"AnnounceBusy", &TKorvelLink::AnnounceBusy, "01000"},
                    TCallCase{"SignalStartup", &TKorvelLink::SignalStartup, "00100"},
                    TCallCase{"SignalShutdown", &TKorvelLink::SignalShutdown, "00010"},
                    TCallCase{"PulseCallStream", &TKorvelLink::PulseCallStream, "00001"}),
    [](const testing::TestParamInfo<TCallCase>& info) { return std::string(info.param.Name); });

// The watchdog polls the start right after it has seen the shutdown: a start still set then
// would count as a new start. A wait for both at once is satisfied at any moment at which both
// are set, so it catches the wrong order, which a look after the shutdown could miss.
TEST_F(KorvelLinkTest, SignalShutdownResetsTheStartBeforeItSetsTheShutdown) {
    TKorvelLink link;
    link.SignalStartup();
    std::atomic<bool> waiting{false};
    DWORD bothSet = WAIT_FAILED;
    std::thread watchdog([&] {
        const TKorvelEventsRef events = TKorvelEvents::KorvelEvents();
        const HANDLE both[] = {events->Shutdown().Handle(), events->Startup().Handle()};
        waiting = true;
        bothSet = WaitForMultipleObjects(2, both, TRUE, 1000);
    });
    while (!waiting)
        std::this_thread::yield();
    // Only the sensitivity depends on this pause: with the right order the wait never ends early.
    Sleep(100);
    link.SignalShutdown();
    watchdog.join();
    EXPECT_EQ(bothSet, static_cast<DWORD>(WAIT_TIMEOUT)) << "start and shutdown were set at once";
    EXPECT_EQ(WatchdogStates(), "00010");
}

// Tamrix already runs when the watchdog starts: the watchdog finds the start it set.
TEST_F(KorvelLinkTest, EventsTheLinkCreatedFirstAreTheOnesTheWatchdogOpens) {
    TKorvelEvents::ReleaseKorvelEvents();
    TKorvelLink link;
    ASSERT_TRUE(link.IsOpen());
    link.SignalStartup();
    TKorvelEvents::CreateKorvelEvents();
    EXPECT_EQ(WatchdogStates(), "00100");
    TKorvelEvents::KorvelEvents()->Startup().ResetEvent();
    link.PulseCallStream();
    EXPECT_EQ(WatchdogStates(), "00001");
}

TEST_F(KorvelLinkTest, ANameItCannotOpenIsReportedAndTheOtherEventsStillWork) {
    TKorvelEvents::ReleaseKorvelEvents();
    THandle mutex(CreateMutexA(nullptr, FALSE, "TamrixMainThreadBusy"));
    ASSERT_TRUE(mutex.IsValid());
    {
        TKorvelLink link;
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(link.OpenError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
        link.AnnounceBusy(); // no event behind it: ignored
        link.PulseMainThread();
        mutex.Reset();
        TKorvelEvents::CreateKorvelEvents();
        EXPECT_EQ(WatchdogStates(), "10000");
    }
}

TEST(KorvelLinkIniTest, RecordProcessIdWritesTheDecimalPidAndKeepsTheRest) {
    TTempDir dir;
    const std::string ini = dir.File("korvel.ini");
    TTempDir::WriteFile(ini,
                        "[Options]\r\nstartup_timeout=7\r\n[Application]\r\nprocess_id=99999\r\n");
    EXPECT_TRUE(TKorvelLink::RecordProcessIdUtf8(ini));
    EXPECT_EQ(ReadIni(ini, "Application", "process_id"), std::to_string(GetCurrentProcessId()));
    EXPECT_EQ(ReadIni(ini, "Options", "startup_timeout"), "7");
}

TEST(KorvelLinkIniTest, RecordProcessIdCreatesAMissingFile) {
    TTempDir dir;
    const std::string ini = dir.File("korvel.ini");
    EXPECT_TRUE(TKorvelLink::RecordProcessIdUtf8(ini));
    EXPECT_EQ(ReadIni(ini, "Application", "process_id"), std::to_string(GetCurrentProcessId()));
}

TEST(KorvelLinkIniTest, RecordProcessIdGivesFalseWhenTheFileCannotBeWritten) {
    TTempDir dir;
    // A folder where the file should be (error 5).
    const std::string folder = dir.File("folder.ini");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_FALSE(TKorvelLink::RecordProcessIdUtf8(folder));
    // A file held open without write sharing (error 32); root ignores read-only under Wine.
    const std::string held = dir.File("held.ini");
    TTempDir::WriteFile(held, "");
    THandle lock(CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock.IsValid());
    EXPECT_FALSE(TKorvelLink::RecordProcessIdUtf8(held));
    // Held for a moment only, as korvel's own look at the file holds it: the id is recorded.
    std::thread release([&] {
        Sleep(300);
        lock.Reset();
    });
    EXPECT_TRUE(TKorvelLink::RecordProcessIdUtf8(held));
    release.join();
    // A folder that does not exist.
    EXPECT_FALSE(TKorvelLink::RecordProcessIdUtf8(dir.File("missing\\korvel.ini")));
}

// The machine-wide layout, named in the registry in other letters and with a trailing backslash:
// korvel.ini is the administrators' and stays as it is, and the id goes to this session's key of
// the user's place, where korvel reads it. A korvel.ini that cannot be written sends the id there
// as well, but korvel of a single-user layout reads the file only: false.
TEST(KorvelLinkIniTest, RecordsInTheUsersPlaceWhereKorvelReadsIt) {
    const struct {
        const char* name;
        bool machineWide;
        bool held;
        bool recorded;
        bool inIniFile;
    } table[] = {{"SingleUser", false, false, true, true},
                 {"MachineWide", true, false, true, false},
                 {"SingleUserFileHeld", false, true, false, false}};
    for (const auto& row : table) {
        TTempDir dir;
        const std::string korvel = dir.MakeDir("korvel");
        const std::string ini = korvel + "\\korvel.ini";
        TTempDir::WriteFile(ini, "[Options]\r\n");
        TMachineWideBed::ClearUserPlace();
        std::string named = korvel + "\\";
        std::transform(named.begin(), named.end(), named.begin(),
                       [](char c) { return static_cast<char>(std::toupper(c)); });
        std::optional<TMachineWideBed> bed;
        if (row.machineWide)
            bed.emplace(named);
        THandle lock;
        if (row.held)
            lock.Reset(CreateFileA(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_EQ(TKorvelLink::RecordProcessIdUtf8(ini), row.recorded) << row.name;
        lock.Reset();
        EXPECT_EQ(ReadIni(ini, "Application", "process_id") != "<missing>", row.inIniFile)
            << row.name;
        EXPECT_EQ(ReadRegistryNumber(TRegistryRoot::CurrentUser, TMachineWideBed::OwnSessionKey(),
                                     "process_id"),
                  row.inIniFile ? std::nullopt
                                : std::optional<std::uint32_t>(GetCurrentProcessId()))
            << row.name;
    }
    TMachineWideBed::ClearUserPlace();
}

// A Tamrix built against the narrow form before it took UTF-8 hands it GetModuleFileNameA's path,
// in the ANSI code page: a folder named with a letter of that code page must still be found.
TEST(KorvelLinkIniTest, DeprecatedNarrowRecordProcessIdTakesAnAnsiPath) {
    ASSERT_EQ(GetACP(), 1252u);
    TTempDir dir;
    const std::wstring folder = Utf8ToUtf16(dir.File("Jos\xC3\xA9"));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    EXPECT_TRUE(TKorvelLink::RecordProcessId(dir.Path() + "\\Jos\xE9\\korvel.ini"));
#pragma GCC diagnostic pop
    EXPECT_EQ(
        GetPrivateProfileIntW(L"Application", L"process_id", 0, (folder + L"\\korvel.ini").c_str()),
        GetCurrentProcessId());
}

struct TIniPathCase {
    const char* ApplicationDir;
    const char* Expected;
};

class WatchdogIniPathTest : public testing::TestWithParam<TIniPathCase> {};

TEST_P(WatchdogIniPathTest, IsKorvelIniInTheKorvelSubfolder) {
    EXPECT_EQ(TKorvelLink::WatchdogIniPath(GetParam().ApplicationDir), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WatchdogIniPathTest,
    testing::Values(TIniPathCase{"C:\\Tamrix", "C:\\Tamrix\\korvel\\korvel.ini"},
                    TIniPathCase{"C:\\Tamrix\\", "C:\\Tamrix\\korvel\\korvel.ini"},
                    TIniPathCase{"C:/Tamrix/", "C:/Tamrix/korvel\\korvel.ini"},
                    TIniPathCase{"C:\\", "C:\\korvel\\korvel.ini"},
                    // A drive alone means its current folder: no backslash may be added.
                    TIniPathCase{"C:", "C:korvel\\korvel.ini"},
                    TIniPathCase{"\\\\server\\share", "\\\\server\\share\\korvel\\korvel.ini"},
                    TIniPathCase{"", "korvel\\korvel.ini"}));

} // namespace
