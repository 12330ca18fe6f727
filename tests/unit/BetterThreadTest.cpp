#include "BetterThread.h"
#include "Deadline.h"
#include "Errors.h"
#include "FakeClock.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using State = TBetterThreadState;

// Generous upper bound for "at once" and "about n ms" on two shared cores.
constexpr DWORD Slack = 1000;

// Ten seconds of patience, polled every millisecond: these threads change state almost at once.
bool Eventually(const std::function<bool()>& condition) {
    return WaitUntil(condition, 10000, 1);
}

// What a test thread did, kept outside the thread object so that it outlives it.
struct TProbe {
    std::atomic<bool> ExecuteRan{false};
    std::atomic<bool> DoTerminateRan{false};
    std::atomic<State> StateAtDoTerminate{State::btsCreated};
    std::atomic<int> WakeUps{0};
    // Lets a blocking body end.
    std::atomic<bool> Release{false};
};

class TProbeThread : public TBetterThread {
public:
    using TBody = std::function<void(TProbeThread&)>;

    TProbeThread(TProbe& probe, TBody body, TClock& clock = SystemClock())
        : TBetterThread(clock), FProbe(probe), FBody(std::move(body)) {}
    // The body lives in this class: stop before it goes.
    ~TProbeThread() override { Stop(-1); }

    using TBetterThread::Finished;
    using TBetterThread::Handle;
    using TBetterThread::State;
    using TBetterThread::Suspended;
    TProbe& Probe() const noexcept { return FProbe; }

protected:
    void Execute() override {
        TBetterThread::Execute();
        FProbe.ExecuteRan = true;
        FBody(*this);
    }
    void DoTerminate() noexcept override {
        FProbe.StateAtDoTerminate = State();
        FProbe.DoTerminateRan = true;
        TBetterThread::DoTerminate();
    }
    void WakeUp() override { ++FProbe.WakeUps; }

private:
    TProbe& FProbe;
    TBody FBody;
};

void ReturnAtOnce(TProbeThread&) {}

// Ignores Terminated; ends when released, or after 10 s so that a faulty Stop cannot hang a test.
void BlockUntilReleased(TProbeThread& thread) {
    Eventually([&] { return thread.Probe().Release.load(); });
}

void PollEvery100ms(TProbeThread& thread) {
    while (!thread.Terminated())
        ::Sleep(100);
}

// Resumes a blocking body and waits until it runs.
void StartBlocked(TProbeThread& thread) {
    thread.Resume();
    ASSERT_TRUE(Eventually([&] { return thread.Probe().ExecuteRan.load(); }));
}

// Ends a blocking body and waits until the thread procedure is done, so that destruction finds
// it finished.
void ReleaseAndFinish(TProbeThread& thread) {
    thread.Probe().Release = true;
    ASSERT_TRUE(Eventually([&] { return thread.Finished(); }));
}

// The OS suspend count, read without changing it.
DWORD SuspendCount(void* handle) {
    const DWORD previous = SuspendThread(handle);
    ResumeThread(handle);
    return previous;
}

// A handle of our own to the worker, to see it end after the object is gone.
THandle DuplicateThreadHandle(void* handle) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, SYNCHRONIZE,
                         FALSE, 0))
        RaiseLastOSError();
    return THandle(copy);
}

// A real clock that counts its sleeps.
class TCountingClock final : public TClock {
public:
    std::uint32_t Ticks() override { return GetTickCount(); }
    void Sleep(std::uint32_t milliseconds) override {
        ++FSleeps;
        ::Sleep(milliseconds);
    }
    int Sleeps() const noexcept { return FSleeps; }

private:
    std::atomic<int> FSleeps{0};
};

TEST(TBetterThreadTest, NothingRunsBeforeResume) {
    TProbe probe;
    TProbeThread thread(probe, ReturnAtOnce);
    EXPECT_TRUE(thread.Suspended());
    EXPECT_EQ(SuspendCount(thread.Handle()), 1u);
    EXPECT_FALSE(probe.ExecuteRan);
    EXPECT_EQ(thread.State(), State::btsCreated);

    thread.Resume();
    EXPECT_FALSE(thread.Suspended());
    ASSERT_TRUE(Eventually([&] { return thread.Finished(); }));
    EXPECT_TRUE(probe.ExecuteRan);
    EXPECT_EQ(thread.State(), State::btsFinished);
    EXPECT_EQ(thread.WaitFor(), 0u);
}

TEST(TBetterThreadTest, ResumeOnARunningThreadChangesNothing) {
    TProbe probe;
    TProbeThread thread(probe, BlockUntilReleased);
    ASSERT_NO_FATAL_FAILURE(StartBlocked(thread));

    thread.Resume();
    EXPECT_FALSE(thread.Suspended());
    EXPECT_EQ(SuspendCount(thread.Handle()), 0u);
    EXPECT_EQ(thread.State(), State::btsRunning);
    EXPECT_FALSE(thread.Finished());
    ReleaseAndFinish(thread);
}

// A thread that never ran ends without its body, through Stop(-1) or through destruction.
class NeverResumedTest : public testing::TestWithParam<bool> {};

TEST_P(NeverResumedTest, SkipsExecuteAndStillRunsDoTerminate) {
    const bool destroy = GetParam();
    TProbe probe;
    auto thread = std::make_unique<TProbeThread>(probe, ReturnAtOnce);
    THandle worker = DuplicateThreadHandle(thread->Handle());
    if (destroy) {
        thread.reset();
    } else {
        thread->Stop(-1);
        EXPECT_TRUE(thread->Finished());
        EXPECT_EQ(thread->State(), State::btsFinished);
        EXPECT_EQ(thread->FatalException(), nullptr);
    }
    EXPECT_FALSE(probe.ExecuteRan);
    EXPECT_TRUE(probe.DoTerminateRan);
    // From btsCreated through btsStopping, never btsRunning.
    EXPECT_EQ(probe.StateAtDoTerminate, State::btsStopping);
    thread.reset();
    EXPECT_EQ(WaitForSingleObject(worker.Get(), 0), WAIT_OBJECT_0);
}

INSTANTIATE_TEST_SUITE_P(Table, NeverResumedTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Destroyed" : "Stopped"; });

class StopFinishedTest : public testing::TestWithParam<std::int32_t> {};

TEST_P(StopFinishedTest, ReturnsAtOnceWithoutTerminateOrWakeUp) {
    TProbe probe;
    TProbeThread thread(probe, ReturnAtOnce);
    thread.Resume();
    ASSERT_TRUE(Eventually([&] { return thread.Finished(); }));

    const DWORD start = GetTickCount();
    thread.Stop(GetParam());
    EXPECT_LT(GetTickCount() - start, Slack);
    EXPECT_EQ(probe.WakeUps, 0);
    EXPECT_FALSE(thread.Terminated());
    EXPECT_EQ(thread.State(), State::btsFinished);
}

INSTANTIATE_TEST_SUITE_P(Table, StopFinishedTest, testing::Values(-1, 0, 1000));

// Stop(0): the deadline has passed at the first test.
class StopZeroTest : public testing::TestWithParam<bool> {};

TEST_P(StopZeroTest, ReturnsAtOnceHavingChangedOnlyTheState) {
    const bool running = GetParam();
    TProbe probe;
    auto thread = std::make_unique<TProbeThread>(probe, BlockUntilReleased);
    if (running) {
        ASSERT_NO_FATAL_FAILURE(StartBlocked(*thread));
    }

    const DWORD start = GetTickCount();
    thread->Stop(0);
    EXPECT_LT(GetTickCount() - start, Slack);
    EXPECT_EQ(thread->State(), State::btsStopping);
    EXPECT_FALSE(thread->Terminated());
    EXPECT_EQ(probe.WakeUps, 0);
    EXPECT_EQ(thread->Suspended(), !running);

    if (running) {
        ReleaseAndFinish(*thread);
    } else {
        // The destructor's Stop(-1) returns at once; the TThread destruction then terminates,
        // resumes and waits for the thread, which skips its body.
        THandle worker = DuplicateThreadHandle(thread->Handle());
        thread.reset();
        EXPECT_FALSE(probe.ExecuteRan);
        EXPECT_EQ(WaitForSingleObject(worker.Get(), 0), WAIT_OBJECT_0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, StopZeroTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Running" : "NeverResumed"; });

// A second Stop, while a first one waits or after a first one timed out.
struct SecondStopCase {
    const char* Name;
    bool FirstWaitsOnAnotherThread; // Stop(-1) there; otherwise Stop(50) here, which times out
    std::int32_t SecondTimeout;
};

class SecondStopTest : public testing::TestWithParam<SecondStopCase> {};

TEST_P(SecondStopTest, ReturnsAtOnce) {
    const SecondStopCase& c = GetParam();
    TProbe probe;
    TProbeThread thread(probe, BlockUntilReleased);
    ASSERT_NO_FATAL_FAILURE(StartBlocked(thread));

    // Joins on every way out; a faulty Stop there ends with the body's own time limit.
    std::jthread first;
    if (c.FirstWaitsOnAnotherThread) {
        first = std::jthread([&] { thread.Stop(-1); });
        ASSERT_TRUE(Eventually([&] { return probe.WakeUps > 0; }));
    } else {
        thread.Stop(50);
    }
    ASSERT_EQ(thread.State(), State::btsStopping);
    const int wakeUps = probe.WakeUps;

    const DWORD start = GetTickCount();
    thread.Stop(c.SecondTimeout);
    EXPECT_LT(GetTickCount() - start, Slack);
    if (!c.FirstWaitsOnAnotherThread) {
        EXPECT_EQ(probe.WakeUps, wakeUps);
    }
    EXPECT_FALSE(thread.Finished());

    ReleaseAndFinish(thread);
}

INSTANTIATE_TEST_SUITE_P(Table, SecondStopTest,
                         testing::Values(SecondStopCase{"WhileFirstWaitsUnlimited", true, -1},
                                         SecondStopCase{"WhileFirstWaitsFinite", true, 1000},
                                         SecondStopCase{"AfterTimeoutUnlimited", false, -1},
                                         SecondStopCase{"AfterTimeoutFinite", false, 1000}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(TBetterThreadTest, FiniteStopOnABodyIgnoringTerminatedEndsAtItsDeadline) {
    TProbe probe;
    TCountingClock clock;
    TProbeThread thread(probe, BlockUntilReleased, clock);
    ASSERT_NO_FATAL_FAILURE(StartBlocked(thread));

    const DWORD start = GetTickCount();
    thread.Stop(500);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 500u);
    EXPECT_LT(elapsed, 500 + Slack);
    // One WakeUp per 1 ms pass.
    EXPECT_EQ(probe.WakeUps, clock.Sleeps());
    EXPECT_GE(probe.WakeUps, 10);
    EXPECT_TRUE(thread.Terminated());
    EXPECT_FALSE(thread.Finished());
    EXPECT_EQ(thread.State(), State::btsStopping);

    ReleaseAndFinish(thread);
}

TEST(TBetterThreadTest, UnlimitedStopReturnsOnceAPollingBodyHasEnded) {
    TProbe probe;
    TProbeThread thread(probe, PollEvery100ms);
    thread.Resume();
    ASSERT_TRUE(Eventually([&] { return probe.ExecuteRan.load(); }));

    const DWORD start = GetTickCount();
    thread.Stop(-1);
    EXPECT_LT(GetTickCount() - start, 100 + Slack);
    EXPECT_TRUE(probe.DoTerminateRan);
    EXPECT_EQ(probe.StateAtDoTerminate, State::btsStopping);
    EXPECT_EQ(thread.State(), State::btsFinished);
    EXPECT_TRUE(thread.Finished());
}

// Counts its live instances, to see the stored error released with the object.
class ECountedError : public Exception {
public:
    ECountedError() : Exception("counted") { ++Live; }
    ECountedError(const ECountedError& other) : Exception(other) { ++Live; }
    ~ECountedError() override { --Live; }
    static inline std::atomic<int> Live{0};
};

struct ThrowCase {
    const char* Name;
    void (*Raise)();
    bool (*IsRaised)(std::exception_ptr);
};

template <typename T> bool Holds(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const T&) {
        return true;
    } catch (...) {
        return false;
    }
}

class ThrowingBodyTest : public testing::TestWithParam<ThrowCase> {};

TEST_P(ThrowingBodyTest, EndsTheThreadAndKeepsTheError) {
    const ThrowCase& c = GetParam();
    TProbe probe;
    auto thread = std::make_unique<TProbeThread>(probe, [&](TProbeThread&) { c.Raise(); });
    // Stop sets Terminated: a thread not yet past its test of it would skip the body.
    thread->Resume();
    ASSERT_TRUE(Eventually([&] { return probe.ExecuteRan.load(); }));

    thread->Stop(-1);
    EXPECT_TRUE(probe.DoTerminateRan);
    EXPECT_EQ(thread->State(), State::btsFinished);
    ASSERT_NE(thread->FatalException(), nullptr);
    EXPECT_TRUE(c.IsRaised(thread->FatalException()));
    EXPECT_EQ(thread->WaitFor(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ThrowingBodyTest,
    testing::Values(ThrowCase{"ProductError", [] { throw ECountedError(); }, &Holds<ECountedError>},
                    ThrowCase{"StandardError", [] { throw std::runtime_error("x"); },
                              &Holds<std::runtime_error>},
                    ThrowCase{"NotAnErrorClass", [] { throw 42; }, &Holds<int>}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TBetterThreadTest, StoredErrorLivesUntilTheObjectGoes) {
    ASSERT_EQ(ECountedError::Live, 0);
    TProbe probe;
    auto thread =
        std::make_unique<TProbeThread>(probe, [](TProbeThread&) { throw ECountedError(); });
    thread->Resume();
    ASSERT_TRUE(Eventually([&] { return thread->Finished(); }));
    EXPECT_GE(ECountedError::Live, 1);
    thread.reset();
    EXPECT_EQ(ECountedError::Live, 0);
}

// A fiber-local slot whose callback runs as the thread that set it exits, after the thread
// procedure has set Finished: it widens the gap between Finished and the real end of the thread.
class TSlowThreadExit {
public:
    TSlowThreadExit() : FIndex(FlsAlloc(&TSlowThreadExit::OnExit)) {
        if (FIndex == FLS_OUT_OF_INDEXES)
            RaiseLastOSError();
    }
    ~TSlowThreadExit() { FlsFree(FIndex); }
    // On the thread to slow down.
    void Arm() { FlsSetValue(FIndex, &FDone); }
    bool Done() const noexcept { return FDone; }

private:
    static void WINAPI OnExit(void* done) {
        if (done) {
            ::Sleep(300);
            *static_cast<std::atomic<bool>*>(done) = true;
        }
    }
    DWORD FIndex;
    std::atomic<bool> FDone{false};
};

TEST(TBetterThreadTest, DestroyingARunningObjectWaitsForTheThreadToEnd) {
    TProbe probe;
    TSlowThreadExit slowExit;
    auto thread = std::make_unique<TProbeThread>(probe, [&](TProbeThread& self) {
        slowExit.Arm();
        PollEvery100ms(self);
    });
    THandle worker = DuplicateThreadHandle(thread->Handle());
    thread->Resume();
    ASSERT_TRUE(Eventually([&] { return probe.ExecuteRan.load(); }));

    thread.reset();
    EXPECT_TRUE(probe.DoTerminateRan);
    EXPECT_EQ(WaitForSingleObject(worker.Get(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(slowExit.Done());
}

// A finite Stop in virtual time: it ends after exactly timeout virtual milliseconds, one WakeUp
// and one 1 ms sleep per pass, wherever the 32-bit counter starts.
struct VirtualStopCase {
    const char* Name;
    std::uint32_t StartTicks;
    std::int32_t Timeout;
};

class VirtualStopTest : public testing::TestWithParam<VirtualStopCase> {};

TEST_P(VirtualStopTest, EndsAtItsDeadline) {
    const VirtualStopCase& c = GetParam();
    TFakeClock clock(c.StartTicks);
    // A Stop that never ends by time would spin forever: end it with an error instead.
    clock.SetSleepHook([&](std::uint32_t) {
        if (clock.SleepCount() > static_cast<std::uint64_t>(c.Timeout) + 5000)
            throw std::runtime_error("Stop ran past its deadline");
    });
    TProbe probe;
    TProbeThread thread(probe, BlockUntilReleased, clock);
    ASSERT_NO_FATAL_FAILURE(StartBlocked(thread));

    EXPECT_NO_THROW(thread.Stop(c.Timeout));
    EXPECT_EQ(clock.Ticks(), c.StartTicks + static_cast<std::uint32_t>(c.Timeout));
    EXPECT_EQ(clock.SleepCount(), static_cast<std::uint64_t>(c.Timeout));
    EXPECT_EQ(probe.WakeUps, c.Timeout);
    EXPECT_EQ(thread.State(), State::btsStopping);

    ReleaseAndFinish(thread);
}

INSTANTIATE_TEST_SUITE_P(Table, VirtualStopTest,
                         testing::Values(VirtualStopCase{"NoWrap", 1000, 1000},
                                         VirtualStopCase{"WrapsMidway", 0xFFFFFF00u, 1000},
                                         VirtualStopCase{"EndsExactlyAtTheWrap", 0xFFFFFC18u, 1000},
                                         VirtualStopCase{"StartsAtTheLastTick", 0xFFFFFFFFu, 1}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
