// The watchdog's named event set against real kernel events, with EventTool.exe as the other
// process (Tamrix's part) where an event's life across processes matters.
#include "Deadline.h"
#include "Errors.h"
#include "FKorvelEvents.h"
#include "Handle.h"
#include "support/Processes.h"
#include "WinApi.h"

#include "WatchdogEvents.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace {

// Looks without creating: OpenEventA fails for a name nobody holds.
bool EventExists(const char* name) {
    const THandle event(OpenEventA(SYNCHRONIZE, FALSE, name));
    return event.IsValid();
}

std::string NamesThatExist() {
    std::string names;
    for (const TEventRole& role : EventRoles)
        if (EventExists(role.Name))
            names += std::string(names.empty() ? "" : " ") + role.Name;
    return names;
}

// Wine's GetProcessHandleCount always gives 0, so count the handle values that the system
// accepts instead. Handle values are multiples of 4, and both Wine and Windows give out the
// lowest free one, so a test process's handles lie far below the limit probed here.
DWORD HandleCount() {
    DWORD count = 0;
    for (std::uintptr_t value = 4; value < 0x4000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}

// Starts EventTool.exe and waits until it reports its events in place.
std::unique_ptr<TChildProcess> StartEventTool(const std::string& arguments) {
    auto tool = std::make_unique<TChildProcess>(Quoted(TestBinDirectory() + "\\EventTool.exe") +
                                                " " + arguments);
    const std::string readyName = "EventToolReady." + std::to_string(tool->ProcessId());
    bool ready = false;
    WaitUntil(
        [&] {
            const THandle event(OpenEventA(SYNCHRONIZE, FALSE, readyName.c_str()));
            ready = event && WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
            return ready || !tool->IsRunning();
        },
        20000, 10);
    if (ready)
        return tool;
    ADD_FAILURE() << "EventTool " << arguments << " not ready; exit code "
                  << tool->ExitCode().value_or(0xFFFFFFFF);
    return tool;
}

class FKorvelEventsTest : public testing::Test {
protected:
    void SetUp() override { TKorvelEvents::CreateKorvelEvents(); }

    // The events are global to the session: leave them unset for whatever runs next.
    void TearDown() override {
        try {
            ResetWatchdogEvents();
        } catch (const Exception& e) {
            ADD_FAILURE() << "cannot reset the events: " << e.Message();
        }
        TKorvelEvents::ReleaseKorvelEvents();
    }

    // For tests that need the events gone: nothing else in this process holds them then.
    static void ReleaseAndExpectNoneExists() {
        TKorvelEvents::ReleaseKorvelEvents();
        ASSERT_EQ(NamesThatExist(), "") << "another process holds the events";
    }
};

TEST_F(FKorvelEventsTest, WaitForZeroOnAnUnsetEventTimesOutAtOnce) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TKorvelEvents::KorvelEvents()->Startup().WaitFor(0), WaitResult::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(FKorvelEventsTest, WaitForOnASetEventSignalsAndLeavesItSet) {
    TKorvelEvents::KorvelEvents()->Startup().SetEvent();
    EXPECT_EQ(TKorvelEvents::KorvelEvents()->Startup().WaitFor(0), WaitResult::Signaled);
    EXPECT_EQ(TKorvelEvents::KorvelEvents()->Startup().WaitFor(0), WaitResult::Signaled);
    EXPECT_EQ(TKorvelEvents::KorvelEvents()->Startup().WaitFor(WaitInfinite), WaitResult::Signaled);
    TKorvelEvents::KorvelEvents()->Startup().ResetEvent();
    EXPECT_EQ(TKorvelEvents::KorvelEvents()->Startup().WaitFor(0), WaitResult::TimedOut);
}

TEST_F(FKorvelEventsTest, WaitForWithATimeoutWaitsAtLeastThatLong) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TKorvelEvents::KorvelEvents()->Shutdown().WaitFor(150), WaitResult::TimedOut);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(150));
    EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST(TEventTest, AnEventTheOSRefusedFailsItsWaitWithTheOSCode) {
    const std::string name = "KorvelEventsTestMutex." + std::to_string(GetCurrentProcessId());
    const THandle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(mutex.IsValid());
    TEvent event(name.c_str());
    ASSERT_FALSE(event.IsValid());
    EXPECT_EQ(event.LastError(), 0);
    EXPECT_EQ(event.WaitFor(0), WaitResult::Failed);
    EXPECT_EQ(event.LastError(), ERROR_INVALID_HANDLE);
    event.SetEvent();   // ignored, no crash
    event.ResetEvent(); // ignored, no crash
}

TEST_F(FKorvelEventsTest, TheFiveAreCreatedUnsetWhenNoneExists) {
    ASSERT_NO_FATAL_FAILURE(ReleaseAndExpectNoneExists());
    TKorvelEvents::CreateKorvelEvents();
    EXPECT_EQ(NamesThatExist(),
              "TamrixMainThread TamrixMainThreadBusy TamrixStartup TamrixShutdown "
              "TamrixCallStream");
    EXPECT_EQ(WatchdogStates(), "00000");
}

TEST_F(FKorvelEventsTest, ReleasingTheSetClosesItsHandles) {
    const DWORD withSet = HandleCount();
    TKorvelEvents::ReleaseKorvelEvents();
    EXPECT_EQ(HandleCount(), withSet - 5);
    EXPECT_EQ(NamesThatExist(), "");
    TKorvelEvents::CreateKorvelEvents();
    EXPECT_EQ(HandleCount(), withSet);
}

class FKorvelEventsRoleTest : public FKorvelEventsTest,
                              public testing::WithParamInterface<std::size_t> {
protected:
    std::string OnlyThisRoleSet() const {
        std::string states(std::size(EventRoles), '0');
        states[GetParam()] = '1';
        return states;
    }
};

TEST_P(FKorvelEventsRoleTest, EachFieldIsTheEventOfItsName) {
    const THandle event(OpenEventA(EVENT_MODIFY_STATE, FALSE, EventRoles[GetParam()].Name));
    ASSERT_TRUE(event.IsValid());
    SetEvent(event.Get());
    EXPECT_EQ(WatchdogStates(), OnlyThisRoleSet());
}

TEST_P(FKorvelEventsRoleTest, AnEventAnotherProcessHoldsSetIsOpenedSet) {
    ASSERT_NO_FATAL_FAILURE(ReleaseAndExpectNoneExists());
    const auto tool = StartEventTool(std::string("set ") + EventRoles[GetParam()].Name + " 60000");
    TKorvelEvents::CreateKorvelEvents();
    EXPECT_EQ(WatchdogStates(), OnlyThisRoleSet());
}

// A kernel object of another kind under the name: the OS refuses the event.
TEST_P(FKorvelEventsRoleTest, ANameTakenByAMutexRaisesAndReleasesTheEventsOpenedBefore) {
    ASSERT_NO_FATAL_FAILURE(ReleaseAndExpectNoneExists());
    const THandle mutex(CreateMutexA(nullptr, FALSE, EventRoles[GetParam()].Name));
    ASSERT_TRUE(mutex.IsValid());
    // The first error text and the first throw of the process open handles that stay (the
    // message table, the unwinder's state): let them be opened before counting.
    try {
        SetLastError(ERROR_INVALID_HANDLE);
        RaiseLastOSError();
    } catch (const EOSError&) {
    }
    const DWORD before = HandleCount();
    try {
        TKorvelEvents events;
        ADD_FAILURE() << "no error raised";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(e.Message(), OSErrorMessage(e.ErrorCode()));
    }
    EXPECT_EQ(HandleCount(), before);
    EXPECT_EQ(NamesThatExist(), "");
}

INSTANTIATE_TEST_SUITE_P(Roles, FKorvelEventsRoleTest, testing::Range<std::size_t>(0, 5),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                             return std::string(EventRoles[info.param].Name);
                         });

// The same kernel objects seen from another process, both ways.
struct TCrossCase {
    const char* Name;
    const char* Arguments;
    bool StartupSetBefore;
    std::uint32_t ExitCode;
    const char* StatesAfter;
};

class FKorvelEventsCrossTest : public FKorvelEventsTest,
                               public testing::WithParamInterface<TCrossCase> {};

TEST_P(FKorvelEventsCrossTest, AnotherProcessSeesAndChangesTheSameEvents) {
    if (GetParam().StartupSetBefore)
        TKorvelEvents::KorvelEvents()->Startup().SetEvent();
    const TChildProcess tool(Quoted(TestBinDirectory() + "\\EventTool.exe") + " " +
                             GetParam().Arguments);
    ASSERT_TRUE(tool.WaitForExit(20000));
    EXPECT_EQ(tool.ExitCode(), GetParam().ExitCode);
    EXPECT_EQ(WatchdogStates(), GetParam().StatesAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FKorvelEventsCrossTest,
    testing::Values(TCrossCase{"QuerySet", "query TamrixStartup", true, 1, "00100"},
                    TCrossCase{"QueryUnset", "query TamrixStartup", false, 0, "00000"},
                    TCrossCase{"QueryMissing", "query KorvelEventsTestNoSuchEvent", false, 2,
                               "00000"},
                    TCrossCase{"Set", "set TamrixCallStream", false, 0, "00001"},
                    TCrossCase{"Reset", "reset TamrixStartup", true, 0, "00000"},
                    TCrossCase{"SetAllFive", "set Tamrix", false, 0, "11111"},
                    TCrossCase{"ResetAllFive", "reset Tamrix", true, 0, "00000"}),
    [](const testing::TestParamInfo<TCrossCase>& info) { return std::string(info.param.Name); });

TEST_F(FKorvelEventsTest, ARebuildKeepsTheStatesWhileAnotherProcessHoldsTheEvents) {
    const auto tool = StartEventTool("hold Tamrix 60000");
    TKorvelEvents::KorvelEvents()->Startup().SetEvent();
    TKorvelEvents::KorvelEvents()->CallStream().SetEvent();
    TKorvelEvents::RecreateKorvelEvents();
    EXPECT_EQ(WatchdogStates(), "00101");
}

TEST_F(FKorvelEventsTest, ARebuildWhileNobodyElseHoldsTheEventsGivesFreshUnsetOnes) {
    {
        const TKorvelEventsRef events = TKorvelEvents::KorvelEvents();
        for (const TEventRole& role : EventRoles)
            ((*events).*role.Get)().SetEvent();
        ASSERT_EQ(WatchdogStates(*events), "11111");
    }
    TKorvelEvents::RecreateKorvelEvents();
    EXPECT_EQ(WatchdogStates(), "00000");
}

TEST_F(FKorvelEventsTest, AFailedRebuildLeavesNoSetUntilTheOSAllowsOneAgain) {
    ASSERT_NO_FATAL_FAILURE(ReleaseAndExpectNoneExists());
    THandle mutex(CreateMutexA(nullptr, FALSE, "TamrixShutdown"));
    ASSERT_TRUE(mutex.IsValid());
    EXPECT_THROW(TKorvelEvents::RecreateKorvelEvents(), EOSError);
    EXPECT_THROW(TKorvelEvents::KorvelEvents(), EOSError);
    EXPECT_EQ(NamesThatExist(), "");

    mutex.Reset();
    EXPECT_EQ(WatchdogStates(), "00000");
}

// The watchdog's main thread waits on Shutdown without a limit while the supervisor may rebuild
// the set: the wait must go on safely and still see the Shutdown set afterwards.
TEST_F(FKorvelEventsTest, RebuildsWhileAnotherThreadWaitsOnShutdown) {
    const DWORD before = HandleCount();
    struct TShared {
        std::atomic<bool> Waiting{false};
        std::atomic<bool> Done{false};
        std::atomic<int> Result{-1};
    };
    const auto shared = std::make_shared<TShared>();
    std::thread waiter([shared] {
        shared->Waiting = true;
        const WaitResult result = TKorvelEvents::KorvelEvents()->Shutdown().WaitFor(WaitInfinite);
        shared->Result = static_cast<int>(result);
        shared->Done = true;
    });
    while (!shared->Waiting)
        std::this_thread::yield();

    std::thread rebuilder([] {
        for (int i = 0; i < 1000; ++i)
            TKorvelEvents::RecreateKorvelEvents();
    });
    rebuilder.join();
    EXPECT_FALSE(shared->Done) << "the wait ended before Shutdown was set";

    TKorvelEvents::KorvelEvents()->Shutdown().SetEvent();
    if (!WaitUntil([&] { return shared->Done.load(); }, 20000, 5)) {
        ADD_FAILURE() << "the waiter did not see Shutdown set through the rebuilt set";
        waiter.detach(); // It holds only the shared state; better than hanging the suite.
        return;
    }
    waiter.join();
    EXPECT_EQ(shared->Result, static_cast<int>(WaitResult::Signaled));
    EXPECT_EQ(HandleCount(), before);
}

} // namespace
