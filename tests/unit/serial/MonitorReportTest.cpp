// ReportEventError: what a failed wait leaves in the log, and the rebuild of the event set.
#include "Errors.h"
#include "FKorvelEvents.h"
#include "Log.h"
#include "Monitor.h"
#include "TempDir.h"
#include "WatchdogEvents.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ReportEventErrorTest : public TWatchdogEventsTest {
protected:
    TTempDir FDir;
    std::string FLogFile = FDir.File("korvel.log");
    TLog FLog{FLogFile, true};
};

TEST_F(ReportEventErrorTest, WaitsThatDidNotFailLeaveEverythingAsItWas) {
    const TKorvelEventsRef before = TKorvelEvents::KorvelEvents();
    for (WaitResult result : {WaitResult::Signaled, WaitResult::TimedOut})
        TMonitor::ReportEventError(result, before->Startup(), FLog);
    EXPECT_EQ(TKorvelEvents::KorvelEvents(), before);
    EXPECT_FALSE(TTempDir::FileExists(FLogFile));
}

struct ReportCase {
    WaitResult result;
    std::string ending; // what follows "Fatal error: "
};

TEST_F(ReportEventErrorTest, EachFailureWritesOneLineAndRebuildsTheSet) {
    // A handle the OS refuses: the name belongs to a mutex, so the wait fails for real.
    THandle mutex(CreateMutexA(nullptr, FALSE, "KorvelTestNotAnEvent"));
    ASSERT_TRUE(mutex);
    TEvent broken("KorvelTestNotAnEvent");
    ASSERT_FALSE(broken.IsValid());
    ASSERT_EQ(broken.WaitFor(0), WaitResult::Failed);
    ASSERT_NE(broken.LastError(), 0);

    const ReportCase cases[] = {
        {WaitResult::Abandoned, "Event object destroyed."},
        {WaitResult::Failed, "An error occurred while waiting " +
                                 SysErrorMessage(static_cast<std::uint32_t>(broken.LastError()))},
        {static_cast<WaitResult>(4), "Unknown event error"},
        {static_cast<WaitResult>(255), "Unknown event error"},
    };
    std::vector<std::string> expected = {"Log created"};
    for (const ReportCase& c : cases) {
        const TKorvelEventsRef before = TKorvelEvents::KorvelEvents();
        TMonitor::ReportEventError(c.result, broken, FLog);
        EXPECT_NE(TKorvelEvents::KorvelEvents(), before) << c.ending;
        expected.push_back("Fatal error: " + c.ending);
    }
    EXPECT_EQ(LogLines(FLogFile), expected);
}

TEST_F(ReportEventErrorTest, RebuildKeepsTheStateOfEventsHeldElsewhere) {
    // This handle stands for Tamrix's: the kernel object outlives the watchdog's set.
    THandle tamrixStartup(CreateEventA(nullptr, TRUE, FALSE, "TamrixStartup"));
    ASSERT_TRUE(tamrixStartup);
    SetEvent(tamrixStartup.Get());
    TMonitor::ReportEventError(WaitResult::Abandoned, TKorvelEvents::KorvelEvents()->Startup(),
                               FLog);
    EXPECT_EQ(TKorvelEvents::KorvelEvents()->Startup().WaitFor(0), WaitResult::Signaled);
    ResetEvent(tamrixStartup.Get());
}

} // namespace
