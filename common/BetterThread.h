// TThread and TBetterThread: a worker thread that is created suspended, started by its owner, and
// stopped with or without a time limit. The owner destroys it; it never frees itself.
#pragma once

#include "Clock.h"
#include "Handle.h"

#include <atomic>
#include <cstdint>
#include <exception>

// The runtime pieces a thread object rests on. Created with its OS thread suspended; nothing of
// Execute runs before Resume.
class TThread {
public:
    // Raises EThread ("Thread creation error: %s") when the OS cannot create the thread.
    explicit TThread(bool createSuspended);
    // Terminates, resumes and waits for a thread that has not finished, then closes its handle
    // and releases a stored error. A descendant whose Execute uses its own fields must have
    // stopped the thread in its own destructor before this runs.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Resumes the OS thread; Suspended clears once it really runs. Raises EThread
    // ("Thread Error: %s (%d)") when the OS refuses.
    void Resume();
    // Sets Terminated; neither wakes nor waits for the thread.
    void Terminate() noexcept { FTerminated = true; }
    // Waits until the OS thread has ended and gives its exit code. Raises EThread on OS failure.
    std::uint32_t WaitFor();

    bool Terminated() const noexcept { return FTerminated; }
    bool Suspended() const noexcept { return FSuspended; }
    bool Finished() const noexcept { return FFinished; }
    // The error that escaped Execute, if any; released with the object.
    std::exception_ptr FatalException() const noexcept { return FFatalException; }
    std::uint32_t ThreadID() const noexcept { return FThreadID; }
    void* Handle() const noexcept { return FHandle.Get(); }

protected:
    // The thread body. Runs on the worker thread.
    virtual void Execute() = 0;
    // Runs on the worker thread when the thread procedure ends, whether Execute ran or not.
    virtual void DoTerminate() {}

private:
    static unsigned __stdcall ThreadProc(void* self);

    THandle FHandle;
    std::uint32_t FThreadID = 0;
    bool FCreateSuspended;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FSuspended{true};
    std::atomic<bool> FFinished{false};
    std::exception_ptr FFatalException;
};

enum class TBetterThreadState : std::uint8_t {
    btsCreated = 0,
    btsRunning = 1,
    btsStopping = 2,
    btsFinished = 3,
};

class TBetterThread : public TThread {
public:
    // The OS thread is created suspended; the owner calls Resume. clock supplies Stop's ticks and
    // its 1 ms pauses.
    explicit TBetterThread(TClock& clock = SystemClock());
    // Stop(-1), then the TThread destruction (which waits for the OS thread to end).
    ~TBetterThread() override;

    // Asks the thread to end, wakes it and waits until it has finished, for at most timeout
    // milliseconds; a negative timeout waits without limit. Returns at once when a Stop is already
    // under way or the thread has finished. Must not be called from the thread itself. A finite
    // wait ends at its deadline even when the 32-bit tick counter wraps during it. Raises EThread
    // when the OS refuses to resume the thread.
    void Stop(std::int32_t timeout);

protected:
    // Marks the body as running; a descendant calls it first in its own Execute.
    void Execute() override;
    void DoTerminate() override;
    // Called by Stop on every pass, from the stopping thread, after Terminated is set. A body that
    // can block overrides it to release the block. Must be safe before, during and after Execute.
    virtual void WakeUp() {}

    TBetterThreadState State() const noexcept { return FState; }

private:
    std::atomic<TBetterThreadState> FState{TBetterThreadState::btsCreated};
    TClock& FClock;
};
