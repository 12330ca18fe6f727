// The metrics writer against a folder that refuses its file.
#include "Errors.h"
#include "Handle.h"
#include "Log.h"
#include "Metrics.h"
#include "support/Deadline.h"
#include "support/SharedFile.h"
#include "support/FakeClock.h"
#include "support/TempDir.h"
#include "support/WatchdogEvents.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <optional>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

namespace {

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

// A starting korvel takes a give-up over only from its session's file written by its own user in
// this boot (Windows gives a freed session number to the next user, and numbers sessions anew
// after a reboot); it removes every file written before this boot, and of this boot the files of
// sessions gone, when the machine can tell.
TEST(MetricsTest, AStartingKorvelJudgesFilesByUserBootAndSession) {
    struct TMachine final : TSessionState {
        std::optional<std::vector<std::uint32_t>> List;
        bool Ending() override { return false; }
        std::optional<std::vector<std::uint32_t>> Sessions() override { return List; }
    };
    const std::uint32_t own = std::stoul(OwnSession());
    const auto now = static_cast<std::uint64_t>(std::time(nullptr));
    // Session own + 1 exists (when the machine can tell), own + 2 does not; korvel-0N.prom is no
    // name of korvel's.
    for (const auto& [user, boot, known, takes, kept] :
         {std::tuple{"S-1-5-21-9-1001", now - 60, true, true, "101"},
          {"S-1-5-21-9-1002", now - 60, true, false, "101"},
          {"S-1-5-21-9-1001", now + 60, true, false, "001"},
          {"S-1-5-21-9-1001", now - 60, false, true, "111"}}) {
        TTempDir dir;
        TLog log(dir.File("korvel.log"), true);
        const std::string file = dir.File("korvel-" + OwnSession() + ".prom");
        {
            TMetrics metrics(log, dir.Path(), SystemClock(), SystemSession(),
                             TMetricsOwner{"S-1-5-21-9-1001", now - 60});
            ASSERT_TRUE(WaitUntil([&] { return TTempDir::FileExists(file); }, 10000));
            metrics.RestartFailed();
            metrics.Withdraw();
        }
        const std::string gaveUp = ReadSharedFile(file).value_or("");
        const std::string files[] = {dir.File("korvel-" + std::to_string(own + 1) + ".prom"),
                                     dir.File("korvel-" + std::to_string(own + 2) + ".prom"),
                                     dir.File("korvel-0" + std::to_string(own + 1) + ".prom")};
        for (const std::string& left : files)
            TTempDir::WriteFile(left, "korvel_build_info 1\n");
        TMachine machine;
        if (known)
            machine.List = std::vector<std::uint32_t>{own + 1};
        TMetrics metrics(log, dir.Path(), SystemClock(), machine, TMetricsOwner{user, boot});
        EXPECT_EQ(metrics.Figures().TamrixGivenUp, takes) << user << " " << boot - now;
        // Its own first file (no failure counted yet) comes after the removals.
        ASSERT_TRUE(
            WaitUntil([&] { return ReadSharedFile(file).value_or(gaveUp) != gaveUp; }, 10000));
        for (std::size_t i = 0; i < std::size(files); ++i)
            EXPECT_EQ(TTempDir::FileExists(files[i]), kept[i] == '1') << files[i] << " " << known;
    }
}

} // namespace
