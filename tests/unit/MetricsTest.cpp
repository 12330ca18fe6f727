// The metrics writer against a folder that refuses its file.
#include "Errors.h"
#include "Handle.h"
#include "Log.h"
#include "Metrics.h"
#include "MetricsText.h"
#include "support/Deadline.h"
#include "support/SharedFile.h"
#include "support/FakeClock.h"
#include "support/TempDir.h"
#include "support/WatchdogEvents.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

std::uint64_t UnixNow() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

std::string OwnSession() {
    DWORD session = 0;
    EXPECT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    return std::to_string(session);
}

// A folder that does not exist costs one line, not one per change, and one more a minute later.
TEST(MetricsTest, MissingFolderCostsOneLogLinePerMinute) {
    TTempDir dir;
    const std::string logPath = dir.File("korvel.log");
    const std::string line = "Metrics not written - " + ReasonText(ERROR_PATH_NOT_FOUND);
    TFakeClock clock;
    TLog log(logPath, true);
    {
        TMetrics metrics(log, dir.File("missing"), clock);
        ASSERT_TRUE(WaitForLogLine(logPath, line, 10000));
        for (int change = 0; change < 5; ++change)
            metrics.HangSeen(THangThread::Main);
        clock.Sleep(60000);
        metrics.KillFailed();
        ASSERT_TRUE(WaitForLogLine(logPath, line, 10000, 2));
        metrics.KillFailed();
    } // its last write, on the way out, fails within the same minute
    const auto lines = LogLines(logPath);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 2) << lines.size() << " lines";
}

// The writer's line never falls inside a step line left open by another thread: it follows it.
TEST(MetricsTest, FailureLineFollowsTheOpenStepLine) {
    TTempDir dir;
    const std::string logPath = dir.File("korvel.log");
    const std::string line = "Metrics not written - " + ReasonText(ERROR_PATH_NOT_FOUND);
    TFakeClock clock;
    TLog log(logPath, true);
    {
        TMetrics metrics(log, dir.File("missing"), clock);
        ASSERT_TRUE(WaitForLogLine(logPath, line, 10000));
        log.Write("Trying to kill...", false);
        clock.Sleep(60000);
    } // its last write fails while the step is open
    log.Write("success", true);
    const auto lines = LogLines(logPath);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"Trying to kill...success", line}));
}

// A collector holding the file open (it reads without delete sharing): the new file cannot take
// its place. The old one stays whole, no temporary file is left beside it, and the next change
// after the collector lets go is written.
TEST(MetricsTest, RefusedRenameKeepsTheOldFileAndLeavesNoTemporary) {
    TTempDir dir;
    const std::string logPath = dir.File("korvel.log");
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    const std::string file = dir.File("korvel-" + std::to_string(session) + ".prom");
    const std::string killFailures =
        "korvel_kill_failures_total{session=\"" + std::to_string(session) + "\"} ";
    const auto holds = [&](const std::string& sample) {
        return ReadSharedFile(file).value_or("").find(killFailures + sample) != std::string::npos;
    };
    TLog log(logPath, true);
    TMetrics metrics(log, dir.Path());
    ASSERT_TRUE(WaitUntil([&] { return holds("0"); }, 10000));
    const std::string old = ReadSharedFile(file).value_or("");
    {
        const THandle collector(CreateFileA(file.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(collector);
        metrics.KillFailed();
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (const std::string& line : LogLines(logPath))
                    if (line.rfind("Metrics not written - ", 0) == 0)
                        return true;
                return false;
            },
            10000));
        EXPECT_EQ(ReadSharedFile(file), old);
        EXPECT_FALSE(TTempDir::FileExists(file + ".tmp"));
    }
    metrics.KillFailed();
    EXPECT_TRUE(WaitUntil([&] { return holds("2"); }, 10000));
}

// A sign-out: the file goes as soon as the session is seen ending, comes back with the figures of
// meanwhile when the end is cancelled, and a korvel stopped while the session ends writes no last
// file (Windows would end it before it could remove one).
TEST(MetricsTest, EndingSessionTakesTheFileAway) {
    TTempDir dir;
    TLog log(dir.File("korvel.log"), true);
    struct : TSessionState {
        std::atomic<bool> IsEnding{false};
        bool Ending() override { return IsEnding; }
    } session;
    const std::string file = dir.File("korvel-" + OwnSession() + ".prom");
    {
        TMetrics metrics(log, dir.Path(), SystemClock(), session);
        ASSERT_TRUE(WaitUntil([&] { return TTempDir::FileExists(file); }, 10000));
        session.IsEnding = true;
        EXPECT_TRUE(WaitUntil([&] { return !TTempDir::FileExists(file); }, 10000));
        metrics.KillFailed();
        session.IsEnding = false;
        const std::string killFailure = "kill_failures_total{session=\"" + OwnSession() + "\"} 1";
        EXPECT_TRUE(WaitUntil(
            [&] {
                return ReadSharedFile(file).value_or("").find(killFailure) != std::string::npos;
            },
            10000));
        session.IsEnding = true;
    }
    EXPECT_FALSE(TTempDir::FileExists(file));
}

// korvel ending by itself takes its file along, but not after a give-up that no start of Tamrix
// has ended since: that file keeps the alert going while Tamrix is down, and the next korvel of
// the session takes the give-up over from it.
TEST(MetricsTest, WithdrawnFileStaysOnlyAfterAGiveUp) {
    for (const auto& [failed, startedAgain] :
         {std::pair{false, false}, {true, false}, {true, true}}) {
        TTempDir dir;
        TLog log(dir.File("korvel.log"), true);
        const std::string file = dir.File("korvel-" + OwnSession() + ".prom");
        TMetrics metrics(log, dir.Path());
        ASSERT_TRUE(WaitUntil([&] { return TTempDir::FileExists(file); }, 10000));
        if (failed)
            metrics.RestartFailed();
        if (startedAgain)
            metrics.TamrixRunning(true);
        metrics.Withdraw();
        EXPECT_EQ(TTempDir::FileExists(file), failed && !startedAgain) << failed << startedAgain;
        // Started again by the logon task, korvel reads the give-up from the file.
        EXPECT_EQ(TMetrics(log, dir.Path()).Figures().TamrixGivenUp, failed && !startedAgain);
    }
}

// A starting korvel finds the file of its session: the give-up passes to it only from a file that
// its own user wrote in this boot, and its own file then names its own user.
TEST(MetricsTest, GiveUpPassesOnlyToTheSameUserInTheSameBoot) {
    const std::uint64_t now = UnixNow();
    const std::string writer = "S-1-5-21-1-2-3-1001";
    struct {
        const char* reader;
        std::uint64_t boot;
        bool takes;
    } const cases[] = {
        {"S-1-5-21-1-2-3-1001", now - 3600, true},
        {"S-1-5-21-1-2-3-1002", now - 3600, false}, // a later user of the session number
        {"S-1-5-21-1-2-3-1001", now + 3600, false}, // the same user after a reboot
    };
    for (const auto& c : cases) {
        TTempDir dir;
        TLog log(dir.File("korvel.log"), true);
        const std::string file = dir.File("korvel-" + OwnSession() + ".prom");
        {
            TMetrics metrics(log, dir.Path(), SystemClock(), SystemSession(),
                             TMetricsOwner{writer, now - 3600});
            ASSERT_TRUE(WaitUntil([&] { return TTempDir::FileExists(file); }, 10000));
            metrics.RestartFailed();
            metrics.Withdraw();
        }
        ASSERT_TRUE(ShowsGivenUp(ReadSharedFile(file).value_or("")));
        TMetrics metrics(log, dir.Path(), SystemClock(), SystemSession(),
                         TMetricsOwner{c.reader, c.boot});
        EXPECT_EQ(metrics.Figures().TamrixGivenUp, c.takes) << c.reader << " " << c.boot - now;
        EXPECT_TRUE(WaitUntil(
            [&] { return MetricsFileUser(ReadSharedFile(file).value_or("")) == c.reader; }, 10000));
    }
}

// What a starting korvel removes: a file of an earlier boot whatever its session number (Windows
// numbers sessions anew), a file of this boot only when its session has ended, and nothing of this
// boot when the machine cannot tell its sessions.
TEST(MetricsTest, StartRemovesFilesOfEndedSessionsAndOfEarlierBoots) {
    struct TMachine final : TSessionState {
        std::optional<std::vector<std::uint32_t>> List;
        bool Ending() override { return false; }
        std::optional<std::vector<std::uint32_t>> Sessions() override { return List; }
    };
    const std::uint32_t own = std::stoul(OwnSession());
    const std::uint64_t now = UnixNow();
    // Sessions own + 1 and + 2 exist; the first's file is of an earlier boot. + 3 and + 4 do not.
    const bool earlier[] = {true, false, false, true};
    for (const bool known : {true, false}) {
        TTempDir dir;
        TLog log(dir.File("korvel.log"), true);
        TMachine machine;
        if (known)
            machine.List = std::vector<std::uint32_t>{own + 1, own + 2};
        std::vector<std::string> files;
        for (std::uint32_t i = 0; i < std::size(earlier); ++i) {
            files.push_back(dir.File("korvel-" + std::to_string(own + 1 + i) + ".prom"));
            TTempDir::WriteFile(files.back(), "korvel_build_info 1\n");
            if (earlier[i]) {
                const std::uint64_t yesterday = (now - 86400) * 10000000 + 116444736000000000;
                const FILETIME time{static_cast<DWORD>(yesterday),
                                    static_cast<DWORD>(yesterday >> 32)};
                const THandle file(CreateFileA(files.back().c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
                ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &time));
            }
        }
        TMetrics metrics(log, dir.Path(), SystemClock(), machine, TMetricsOwner{"", now - 3600});
        // Its own file comes after the removals.
        ASSERT_TRUE(WaitUntil(
            [&] { return TTempDir::FileExists(dir.File("korvel-" + OwnSession() + ".prom")); },
            10000));
        const std::vector<bool> kept = {false, true, !known, false};
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(TTempDir::FileExists(files[i]), kept[i]) << files[i] << " known " << known;
    }
}

} // namespace
