// TThread and TBetterThread: a worker thread that is created suspended, started by its owner, and
// stopped with or without a time limit. The owner destroys it; it never frees itself.
//
// Two threads meet here: the owner (in the watchdog the main thread), which constructs, resumes,
// stops and destroys the object, and the worker, which runs the thread procedure. The flags both
// of them touch (Terminated, Suspended, Finished, the life-cycle state) are atomics; nothing else
// is shared while the worker runs.
//
// C++ traps a descendant must know:
// - Destructors run from the most derived class down, so by the time this base's destructor stops
//   the thread, the descendant's members are already gone. A descendant whose Execute uses its own
//   fields must call Stop(-1) first thing in its own destructor (TMonitor does). After a finite
//   Stop that timed out, Stop returns at once; such a descendant must then end the thread itself
//   (Terminate, WaitFor) before its fields go.
// - The thread procedure must never call Execute on an object under destruction, where it may be
//   pure virtual or belong to a class already destroyed: it calls Execute only when Terminated is
//   clear, and destruction sets Terminated before it resumes a thread that never ran.
#pragma once

#include "Clock.h"
#include "Handle.h"

#include <atomic>
#include <cstdint>
#include <exception>

// The runtime pieces a thread object rests on. The OS thread is always created suspended: a C++
// constructor runs before the descendant's is done, so nothing of Execute may run before Resume.
class TThread {
public:
    // Owner thread. Raises EThread ("Thread creation error: %s") when the OS cannot create the
    // thread.
    TThread();
    // Owner thread. If the thread has not finished: Terminate, Resume, WaitFor. In every case it
    // then waits for the OS thread itself to end (it may still be between DoTerminate and its
    // exit), closes the handle and releases a stored error. A destructor cannot raise: an EThread
    // here ends the process, since freeing the object while its thread might still run it would be
    // worse.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Owner thread. Resumes the OS thread; Suspended clears once it really runs. On a running
    // thread it changes nothing. Raises EThread ("Thread Error: %s (%d)") when the OS refuses.
    void Resume();
    // Any thread. Sets Terminated; neither wakes nor waits for the thread.
    void Terminate() noexcept { FTerminated = true; }
    // Not from the worker itself. Waits without limit until the OS thread has ended and gives its
    // exit code (always 0 here). Raises EThread ("Thread Error: %s (%d)") on OS failure.
    std::uint32_t WaitFor();

    bool Terminated() const noexcept { return FTerminated; }
    // The error that escaped Execute, if any; released with the object. Read it only once the
    // thread has finished.
    std::exception_ptr FatalException() const noexcept { return FFatalException; }

protected:
    // The thread body. Runs on the worker thread; whatever it raises is caught and kept in
    // FatalException.
    virtual void Execute() = 0;
    // Runs on the worker thread when the thread procedure ends, whether Execute ran or not. Must
    // not raise: nothing is left on the thread to catch it.
    virtual void DoTerminate() noexcept {}

    bool Suspended() const noexcept { return FSuspended; }
    // The thread procedure has run DoTerminate; the OS thread may still be ending.
    bool Finished() const noexcept { return FFinished; }
    void* Handle() const noexcept { return FHandle.Get(); }

private:
    static unsigned __stdcall ThreadProc(void* self);

    THandle FHandle;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FSuspended{true};
    std::atomic<bool> FFinished{false};
    // Written by the worker before it sets FFinished; read by the owner after.
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
    // Owner thread. The OS thread is created suspended; the owner calls Resume. clock supplies
    // Stop's ticks and its 1 ms pauses. Raises EThread when the OS cannot create the thread.
    explicit TBetterThread(TClock& clock = SystemClock());
    // Owner thread. Stop(-1), then the TThread destruction (which waits for the OS thread to end).
    ~TBetterThread() override;

    // Owner thread, never the worker (it would wait for its own end). Asks the thread to end,
    // wakes it and waits until it has finished, for at most timeout milliseconds; a negative
    // timeout waits without limit. Returns at once when a Stop is already under way or has timed
    // out, or the thread has finished. A finite wait ends at its deadline even when the 32-bit tick
    // counter wraps during it. Raises EThread when the OS refuses to resume the thread, leaving
    // the state at btsStopping.
    void Stop(std::int32_t timeout);

protected:
    // Worker thread. Marks the body as running; a descendant calls it first in its own Execute.
    void Execute() override;
    // Worker thread, last step of the thread procedure: marks the thread finished.
    void DoTerminate() noexcept override;
    // Called by Stop on every pass, from the stopping thread, after Terminated is set. A body that
    // can block overrides it to release the block. Must be cheap, harmless to repeat and safe
    // before, during and after Execute.
    virtual void WakeUp() {}

    TBetterThreadState State() const noexcept { return FState; }

private:
    // Written by the worker (btsRunning, btsFinished) and the owner (btsStopping).
    std::atomic<TBetterThreadState> FState{TBetterThreadState::btsCreated};
    TClock& FClock;
};
