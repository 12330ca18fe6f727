#include "Log.h"

#include "FileSecurity.h"
#include "Handle.h"
#include "WinApi.h"
#include "support/FakeClock.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

const std::vector<std::uint32_t> AllPauses{200, 300, 400, 500, 600};
const std::string OpenMarker = "***Error opening file.\r\nDisk full or write-protected?***";

// The shared fake clock, with the pauses it was asked for kept in order; OnSleep runs after each
// (argument: its number, from 1) so that a test can change the world in the middle of the retries.
class TPauseClock {
public:
    TPauseClock() {
        FClock.SetSleepHook([this](std::uint32_t milliseconds) {
            Pauses.push_back(milliseconds);
            if (OnSleep)
                OnSleep(Pauses.size());
        });
    }
    operator TClock&() { return FClock; }

    std::vector<std::uint32_t> Pauses;
    std::function<void(std::size_t)> OnSleep;

private:
    TFakeClock FClock;
};

// A timestamp by its shape; the time separator comes from the regional settings.
const char* const TimestampPattern = R"(\d{4}-\d{2}-\d{2} \d{2}[^\d\s]+\d{2}[^\d\s]+\d{2})";

// A regular expression matching text literally, with every "{ts}" standing for a timestamp.
std::string Pattern(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    std::string result;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find("{ts}", from);
        result += std::regex_replace(text.substr(from, at - from), special, R"(\$&)");
        if (at == std::string::npos)
            return result;
        result += TimestampPattern;
        from = at + 4;
    }
}

bool Matches(const std::string& content, const std::string& expected) {
    return std::regex_match(content, std::regex(Pattern(expected)));
}

#define EXPECT_LOG(content, expected)                                                              \
    EXPECT_TRUE(Matches(content, expected)) << "file:     " << testing::PrintToString(content)     \
                                            << "\nexpected: " << testing::PrintToString(expected)

// Holds the file open without any sharing, as another program locking it would (error 32 for
// everybody else). Wine, run as root, ignores the read-only attribute, so this is the way to make
// the log's open fail.
THandle HoldExclusively(const std::string& path) {
    THandle file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << "cannot hold " << path << ", error " << GetLastError();
    return file;
}

class LogTest : public testing::Test {
protected:
    TTempDir FDir;
    TPauseClock FClock;
    std::string FName = FDir.File("test.log");

    std::string Content() const { return TTempDir::ReadFile(FName); }
};

// ---- Layout of the lines ----

struct LayoutCase {
    const char* name;
    bool timestamps;
    std::vector<std::pair<std::string, bool>> writes; // message, line end
    std::string expected;
};

class LogLayoutTest : public LogTest, public testing::WithParamInterface<LayoutCase> {};

TEST_P(LogLayoutTest, WritesTheExpectedText) {
    const LayoutCase& c = GetParam();
    TLog log(FName, c.timestamps, FClock);
    for (const auto& [message, lineEnd] : c.writes)
        EXPECT_TRUE(log.Write(message, lineEnd)) << message;
    EXPECT_LOG(Content(), c.expected);
    EXPECT_TRUE(FClock.Pauses.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogLayoutTest,
    testing::Values(
        LayoutCase{"FirstMessageCreatesTheFile",
                   true,
                   {{"Korvel started.", true}},
                   "{ts} Log created\r\n{ts} Korvel started.\r\n"},
        LayoutCase{"StepAndOutcomeShareOneLine",
                   true,
                   {{"Trying to kill...", false}, {"success", true}, {"next", true}},
                   "{ts} Log created\r\n{ts} Trying to kill...success\r\n{ts} next\r\n"},
        LayoutCase{"TimestampsOffStillStampTheCreatedLine",
                   false,
                   {{"first", true}, {"Trying to start...", false}, {"success", true}},
                   "{ts} Log created\r\nfirst\r\nTrying to start...success\r\n"},
        LayoutCase{"EmptyMessageWithLineEnd", true, {{"", true}}, "{ts} Log created\r\n{ts} \r\n"},
        LayoutCase{"EmptyMessageWithoutLineEndKeepsTheLineOpen",
                   true,
                   {{"", false}, {"x", true}},
                   "{ts} Log created\r\n{ts} x\r\n"},
        LayoutCase{"LastLineLeftOpen",
                   true,
                   {{"a", true}, {"Trying to kill...", false}},
                   "{ts} Log created\r\n{ts} a\r\n{ts} Trying to kill..."},
        // Several times the 128-byte buffer, with an odd remainder for the close.
        LayoutCase{"LongMessageCrossesTheBuffer",
                   true,
                   {{std::string(1000, 'x') + "end", true}, {"after", true}},
                   "{ts} Log created\r\n{ts} " + std::string(1000, 'x') + "end\r\n{ts} after\r\n"}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

TEST_F(LogTest, AppendsToAnExistingFileWithoutACreatedLine) {
    TTempDir::WriteFile(FName, "old line\r\n");
    TLog log(FName, true, FClock);
    EXPECT_TRUE(log.Write("new", true));
    EXPECT_LOG(Content(), "old line\r\n{ts} new\r\n");
}

TEST_F(LogTest, ConstructionTouchesNoFile) {
    TLog log(FName, true, FClock);
    EXPECT_FALSE(TTempDir::FileExists(FName));
}

TEST_F(LogTest, DeletedFileIsCreatedAgain) {
    TLog log(FName, true, FClock);
    ASSERT_TRUE(log.Write("first", true));
    ASSERT_TRUE(DeleteFileA(FName.c_str()));
    EXPECT_TRUE(log.Write("second", true));
    EXPECT_LOG(Content(), "{ts} Log created\r\n{ts} second\r\n");
}

// ---- Failing and recovering ----

TEST_F(LogTest, RefusedOpenLosesTheMessageAndLeavesOneMarker) {
    TLog log(FName, true, FClock);
    ASSERT_TRUE(log.Write("before", true));
    {
        THandle held = HoldExclusively(FName);
        EXPECT_FALSE(log.Write("lost", true));
        EXPECT_EQ(FClock.Pauses, AllPauses);
        EXPECT_FALSE(log.Write("lost too", true));
    }
    EXPECT_TRUE(log.Write("after", true));
    EXPECT_LOG(Content(), "{ts} Log created\r\n{ts} before\r\n" + OpenMarker + "{ts} after\r\n");
}

TEST_F(LogTest, RefusedOpenCostsTwoSecondsOfRealTime) {
    TLog log(FName, true);
    ASSERT_TRUE(log.Write("before", true));
    THandle held = HoldExclusively(FName);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(log.Write("lost", true));
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_GE(elapsed.count(), 2000);
    EXPECT_LT(elapsed.count(), 20000);
}

TEST_F(LogTest, LateOpenWritesItsMarkerAheadOfTheSameMessage) {
    TLog log(FName, true, FClock);
    ASSERT_TRUE(log.Write("before", true));
    THandle held = HoldExclusively(FName);
    FClock.OnSleep = [&](std::size_t pause) {
        if (pause == 2)
            held.Reset();
    };
    EXPECT_TRUE(log.Write("late", true));
    EXPECT_EQ(FClock.Pauses, (std::vector<std::uint32_t>{200, 300}));
    EXPECT_LOG(Content(), "{ts} Log created\r\n{ts} before\r\n" + OpenMarker + "{ts} late\r\n");
}

TEST_F(LogTest, RefusedOpenKeepsAnOpenLineOpen) {
    TLog log(FName, true, FClock);
    ASSERT_TRUE(log.Write("Trying to kill...", false));
    {
        THandle held = HoldExclusively(FName);
        EXPECT_FALSE(log.Write("success", true));
    }
    EXPECT_TRUE(log.Write("later", true));
    EXPECT_LOG(Content(), "{ts} Log created\r\n{ts} Trying to kill..." + OpenMarker + "later\r\n");
}

// Names under which no log file can ever be created. No directory is made on the way.
struct UnreachableCase {
    const char* name;
    std::function<std::string(const TTempDir&)> fileName;
};

class LogUnreachableTest : public LogTest, public testing::WithParamInterface<UnreachableCase> {};

TEST_P(LogUnreachableTest, EveryWriteFailsAfterItsRetries) {
    const std::string fileName = GetParam().fileName(FDir);
    TLog log(fileName, true, FClock);
    EXPECT_FALSE(log.Write("first", true));
    EXPECT_EQ(FClock.Pauses, AllPauses);
    FClock.Pauses.clear();
    EXPECT_FALSE(log.Write("second", false));
    EXPECT_EQ(FClock.Pauses, AllPauses);
    EXPECT_FALSE(TTempDir::DirectoryExists(FDir.File("missing")));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogUnreachableTest,
    testing::Values(UnreachableCase{"MissingFolder",
                                    [](const TTempDir& dir) {
                                        return dir.File("missing\\test.log");
                                    }},
                    UnreachableCase{"EmptyName", [](const TTempDir&) { return std::string(); }},
                    UnreachableCase{"NameOfAFolder",
                                    [](const TTempDir& dir) { return dir.MakeDir("test.log"); }},
                    // One character more than the file record holds; the name is never cut short.
                    UnreachableCase{"NameTooLong",
                                    [](const TTempDir& dir) {
                                        std::string name = dir.File("");
                                        name += std::string(260 - name.size(), 'n');
                                        return name;
                                    }}),
    [](const testing::TestParamInfo<UnreachableCase>& info) { return info.param.name; });

// Logging code runs on error paths: the caller may read or report its code after the log line.
TEST_F(LogTest, KeepsTheCallersLastErrorWhetherTheWriteWorksOrNot) {
    TLog log(FName, true, FClock);
    TLog unreachable(FDir.File("missing\\test.log"), true, FClock);
    for (TLog* target : {&log, &unreachable}) {
        SetLastError(ERROR_INVALID_DATA);
        target->Write("message", true);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    }
}

TEST_F(LogTest, LongestNameTheRecordHoldsIsWritten) {
    std::string name = FDir.File("");
    name += std::string(259 - name.size() - 4, 'n') + ".log";
    TLog log(name, true, FClock);
    EXPECT_TRUE(log.Write("fits", true));
    EXPECT_LOG(TTempDir::ReadFile(name), "{ts} Log created\r\n{ts} fits\r\n");
}

TEST_F(LogTest, FolderMadeLaterGetsTheFileAndTheMarker) {
    const std::string fileName = FDir.File("logs\\test.log");
    TLog log(fileName, true, FClock);
    EXPECT_FALSE(log.Write("lost", true));
    FDir.MakeDir("logs");
    EXPECT_TRUE(log.Write("Korvel started.", true));
    EXPECT_LOG(TTempDir::ReadFile(fileName),
               "{ts} Log created\r\n" + OpenMarker + "{ts} Korvel started.\r\n");
}

// ---- File name ----

TEST_F(LogTest, SameFileNameChangesNothing) {
    TLog log(FName, true, FClock);
    ASSERT_TRUE(log.Write("Trying to kill...", false));
    log.SetFileName(FName);
    EXPECT_TRUE(log.Write("success", true));
    EXPECT_LOG(Content(), "{ts} Log created\r\n{ts} Trying to kill...success\r\n");
}

TEST_F(LogTest, NewFileNameStartsANewLine) {
    const std::string other = FDir.File("other.log");
    TLog log(FName, true, FClock);
    ASSERT_TRUE(log.Write("Trying to kill...", false));
    log.SetFileName(other);
    EXPECT_TRUE(log.Write("success", true));
    EXPECT_LOG(Content(), "{ts} Log created\r\n{ts} Trying to kill...");
    EXPECT_LOG(TTempDir::ReadFile(other), "{ts} Log created\r\n{ts} success\r\n");
}

// A line of another thread never splits a step line, and the event log hears every line but the
// one kept from it.
TEST_F(LogTest, AsideLinesWaitForTheOpenLineAndEveryLineButTheUnobservedIsHeard) {
    TLog log(FName, true, FClock);
    std::vector<std::string> heard;
    log.SetLineObserver([&](std::string_view line) { heard.emplace_back(line); });
    ASSERT_TRUE(log.Write("Trying to start...wait 4 sec...", false));
    EXPECT_TRUE(log.WriteAside("Shutdown detected."));
    EXPECT_TRUE(log.Write("Monitor terminated", true));
    EXPECT_TRUE(log.WriteUnobserved("Restart failed."));
    EXPECT_TRUE(log.WriteAside("Korvel shut down."));
    EXPECT_LOG(Content(), "{ts} Log created\r\n{ts} Trying to start...wait 4 sec...Monitor "
                          "terminated\r\n{ts} Shutdown detected.\r\n{ts} Restart failed.\r\n"
                          "{ts} Korvel shut down.\r\n");
    EXPECT_EQ(heard, (std::vector<std::string>{"Shutdown detected.",
                                               "Trying to start...wait 4 sec...Monitor terminated",
                                               "Korvel shut down."}));
}

TEST_F(LogTest, FileNameComparisonIsExact) {
    // Same file to the OS, another name to the log: the open line is closed all the same.
    std::string upper = FName;
    upper.replace(upper.size() - 8, 8, "TEST.LOG");
    TLog log(FName, true, FClock);
    ASSERT_TRUE(log.Write("Trying to kill...", false));
    log.SetFileName(upper);
    EXPECT_TRUE(log.Write("success", true));
    EXPECT_LOG(Content(), "{ts} Log created\r\n{ts} Trying to kill...{ts} success\r\n");
}

// ---- Two writers ----

TEST_F(LogTest, TwoThreadsNeverTearMessagesApart) {
    constexpr int PerThread = 500;
    TLog log(FName, true, FClock);
    std::vector<int> failures(2, 0);
    auto writer = [&](int index) {
        for (int i = 0; i < PerThread; ++i) {
            // A long message spans several buffer hand-overs: a torn write would show.
            const std::string message = std::string(1, static_cast<char>('A' + index)) + "-" +
                                        std::to_string(i) + "-" +
                                        std::string(150, static_cast<char>('a' + index));
            if (!log.Write(message, true))
                ++failures[index];
        }
    };
    std::thread first(writer, 0);
    std::thread second(writer, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0}));
    EXPECT_TRUE(FClock.Pauses.empty());

    const std::string content = Content();
    const std::regex line(std::string("^") + TimestampPattern + " ([AB])-(\\d+)-(a{150}|b{150})$");
    std::map<std::string, int> seen;
    std::size_t from = 0;
    bool firstLine = true;
    while (from < content.size()) {
        const std::size_t end = content.find("\r\n", from);
        ASSERT_NE(end, std::string::npos) << "last line without CR LF";
        const std::string text = content.substr(from, end - from);
        from = end + 2;
        if (firstLine) {
            EXPECT_LOG(text, "{ts} Log created");
            firstLine = false;
            continue;
        }
        std::smatch m;
        ASSERT_TRUE(std::regex_match(text, m, line)) << "torn line: " << text;
        EXPECT_EQ(m[3].str()[0], m[1].str()[0] - 'A' + 'a') << text;
        ++seen[m[1].str() + m[2].str()];
    }
    EXPECT_EQ(seen.size(), 2u * PerThread);
    for (const auto& [message, count] : seen)
        EXPECT_EQ(count, 1) << message;
}

// ---- Rotation ----

TEST_F(LogTest, RotationUnderTwoWritersKeepsEveryLineOnceInOrderAndWhole) {
    constexpr std::size_t Limit = 4000;
    TLog log(FName, true, FClock);
    log.SetRotation(Limit, 20);
    // No line of the other thread between a step and its outcome. An SRW lock: std::shared_mutex
    // of this MinGW build, run under Wine, let two exclusive holders in at once.
    SRWLOCK steps = SRWLOCK_INIT;
    const std::string outcome(50, 'd'); // longer than the step: the line crosses the limit there
    std::map<char, std::vector<std::string>> written{{'A', {}}, {'B', {}}}, found;
    auto writer = [&](char id) {
        for (int i = 0; i < 300; ++i) {
            const std::string message = id + std::to_string(i);
            if (i % 2 == 0) {
                AcquireSRWLockExclusive(&steps);
                log.Write(message + " step...", false);
                log.Write(outcome, true);
                ReleaseSRWLockExclusive(&steps);
                written.at(id).push_back(message + " step..." + outcome);
            } else {
                AcquireSRWLockShared(&steps);
                log.Write(message, true);
                ReleaseSRWLockShared(&steps);
                written.at(id).push_back(message);
            }
        }
    };
    std::thread first(writer, 'A'), second(writer, 'B');
    first.join();
    second.join();

    // Whole lines only: a step torn from its outcome, or torn by the other thread, matches none.
    const std::regex line(" ([AB]\\d+(?: step\\.\\.\\.d{50})?)\r\n");
    for (int n = 21; n >= 0; --n) { // oldest first
        const std::string file = n == 0 ? FName : FDir.File("test." + std::to_string(n) + ".log");
        if (!TTempDir::FileExists(file))
            continue;
        const std::string content = TTempDir::ReadFile(file);
        EXPECT_LE(content.size(), Limit + 90) << file;
        for (std::sregex_iterator it(content.begin(), content.end(), line), end; it != end; ++it)
            found[(*it)[1].str()[0]].push_back((*it)[1]);
    }
    EXPECT_EQ(found, written);
}

// A log folder that every user of the machine may add files to: the log, the new log after a
// rotation and the copy are korvel's user's alone, with nothing inherited from the folder.
TEST_F(LogTest, PrivateFilesAreOpenToTheirUserSystemAndAdministratorsOnly) {
    TLog log(FName, false, FClock);
    log.MakeFilesPrivate();
    log.SetRotation(4, 2);
    log.Write("first", true);
    log.Write("second", true);
    for (const std::string& name : {FName, FDir.File("test.1.log")}) {
        const TFileSecurity security = FileSecurity(name);
        EXPECT_EQ(security.Owner, ProcessUserSid()) << name;
        EXPECT_FALSE(security.Grantees.empty()) << name;
        for (const std::string& grantee : security.Grantees)
            EXPECT_THAT(grantee, testing::AnyOf("owner", "SY", "BA")) << name;
    }
    EXPECT_LOG(Content(), "{ts} Log created\r\nsecond\r\n");
}

TEST_F(LogTest, RefusedRenameKeepsTheLogGrowingUntilTheViewerLetsGo) {
    TTempDir::WriteFile(FDir.File("test.1.log"), "one");
    TTempDir::WriteFile(FName, "old\r\n");
    TLog log(FName, true, FClock);
    log.SetRotation(4, 2);
    {
        // A viewer: others may read and write the file, but not rename it.
        const THandle viewer(CreateFileA(FName.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(viewer);
        EXPECT_TRUE(log.Write("a", true));
        EXPECT_TRUE(log.Write("b", true));
    }
    EXPECT_TRUE(log.Write("c", true));
    EXPECT_LOG(Content(), "{ts} Log created\r\n{ts} c\r\n");
    EXPECT_LOG(TTempDir::ReadFile(FDir.File("test.1.log")), "old\r\n{ts} a\r\n{ts} b\r\n");
    EXPECT_EQ(TTempDir::ReadFile(FDir.File("test.2.log")), "one");
}

} // namespace
