#include "BetterThread.h"

#include "Errors.h"
#include "WinApi.h"

#include <process.h>

TThread::TThread() {
    unsigned threadId = 0;
    // Suspended: the object is not fully built yet, and the thread procedure must not reach
    // Execute before the owner says so. _beginthreadex rather than CreateThread so that the C
    // runtime sets up its per-thread data for the body.
    const auto handle =
        _beginthreadex(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &threadId);
    if (handle == 0)
        RaiseLastOSError(TOSFailure::ThreadCreation);
    FHandle.Reset(reinterpret_cast<void*>(handle));
}

TThread::~TThread() {
    if (!FHandle)
        return;
    if (!FFinished) {
        // Terminated before the resume: a thread that never ran then skips Execute, which here may
        // already be pure virtual or belong to a destroyed descendant.
        Terminate();
        Resume();
    }
    // Even after Finished: the thread still runs its last instructions (and the C runtime's
    // thread cleanup) on this object's behalf until it has really ended.
    WaitFor();
}

void TThread::Resume() {
    const DWORD previous = ResumeThread(FHandle.Get());
    if (previous == static_cast<DWORD>(-1))
        RaiseLastOSError(TOSFailure::Thread);
    // A previous count of 1 means this call released the last suspension: the thread now runs.
    // 0 means it already ran; above 1, it is still suspended.
    if (previous == 1)
        FSuspended = false;
}

std::uint32_t TThread::WaitFor() {
    if (WaitForSingleObject(FHandle.Get(), INFINITE) == WAIT_FAILED)
        RaiseLastOSError(TOSFailure::Thread);
    DWORD exitCode = 0;
    if (!GetExitCodeThread(FHandle.Get(), &exitCode))
        RaiseLastOSError(TOSFailure::Thread);
    return exitCode;
}

unsigned __stdcall TThread::ThreadProc(void* self) {
    auto* thread = static_cast<TThread*>(self);
    if (!thread->FTerminated) {
        try {
            thread->Execute();
        } catch (...) {
            // Unreported on purpose: the owner may look at it; it goes with the object.
            thread->FFatalException = std::current_exception();
        }
    }
    thread->DoTerminate();
    // The last touch of the object: from here on the owner may destroy it.
    thread->FFinished = true;
    return 0;
}

TBetterThread::TBetterThread(TClock& clock) : FClock(clock) {}

TBetterThread::~TBetterThread() {
    Stop(-1);
}

void TBetterThread::Execute() {
    FState = TBetterThreadState::btsRunning;
}

void TBetterThread::DoTerminate() noexcept {
    TThread::DoTerminate();
    FState = TBetterThreadState::btsFinished;
}

void TBetterThread::Stop(std::int32_t timeout) {
    const std::uint32_t start = FClock.Ticks();
    // Compare and swap, not a plain store: the worker may reach btsFinished between the test and
    // the write, and btsFinished must stay final or an unlimited Stop would wait forever.
    TBetterThreadState state = FState;
    do {
        if (state == TBetterThreadState::btsStopping || state == TBetterThreadState::btsFinished)
            return;
    } while (!FState.compare_exchange_weak(state, TBetterThreadState::btsStopping));

    for (;;) {
        if (FState == TBetterThreadState::btsFinished)
            return;
        // Elapsed time as (now - start) modulo 2^32, so that a finite wait ends at its deadline
        // even when the 32-bit tick counter wraps during it (a deadline of start + timeout
        // compared with the raw counter would not be reached until the counter climbed back to
        // it). A timeout never exceeds 2^31 - 1, so the elapsed time cannot wrap itself before
        // the deadline. A negative timeout never ends by time.
        if (timeout >= 0 && static_cast<std::uint32_t>(FClock.Ticks() - start) >=
                                static_cast<std::uint32_t>(timeout))
            return;
        Terminate();
        if (Suspended())
            Resume();
        WakeUp();
        FClock.Sleep(1);
    }
}
