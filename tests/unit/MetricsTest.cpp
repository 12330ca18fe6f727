// The metrics writer against a folder that refuses its file.
#include "Errors.h"
#include "Log.h"
#include "Metrics.h"
#include "support/FakeClock.h"
#include "support/TempDir.h"
#include "support/WatchdogEvents.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

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

} // namespace
