// The watchdog's side of the five named events it shares with Tamrix, and the one process-wide
// set of them that the main thread and the supervisor thread use.
#pragma once

#include "Handle.h"

#include <atomic>
#include <cstdint>
#include <memory>

// The outcome of one wait. Values above Failed never come from a wait; ReportEventError still
// has an answer for them.
enum class WaitResult : std::uint8_t { Signaled = 0, TimedOut = 1, Abandoned = 2, Failed = 3 };

inline constexpr std::uint32_t WaitInfinite = 0xFFFFFFFFu;

// One named kernel event. Construction never raises: a refused event leaves IsValid() false and
// the caller checks it, with the OS's last error still in place.
class TEvent {
public:
    // Creates, or opens when it exists, a manual-reset event that starts unset.
    explicit TEvent(const char* name);
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    bool IsValid() const noexcept { return FHandle.IsValid(); }
    void* Handle() const noexcept { return FHandle.Get(); }

    // timeout in milliseconds, WaitInfinite for no limit. After Failed, LastError() holds the OS
    // error code of that wait.
    WaitResult WaitFor(std::uint32_t timeout);
    // Waits without a time limit for this event or for other, a waitable handle of any kind (null:
    // this event alone), whichever is signalled first. otherFirst tells that other ended the wait;
    // the outcome is then Signaled.
    WaitResult WaitForEither(void* other, bool& otherFirst);
    void SetEvent() noexcept;   // outcome ignored
    void ResetEvent() noexcept; // outcome ignored
    std::int32_t LastError() const noexcept { return FLastError.load(); }

private:
    // The outcome of a wait on this event's handle alone, with a failure's code kept.
    WaitResult Outcome(unsigned long code);

    THandle FHandle;
    std::atomic<std::int32_t> FLastError{0};
};

class TKorvelEvents;
// One of the five events of the set, as the member that gives it.
using TEventMember = TEvent& (TKorvelEvents::*)() noexcept;
// Users hold the set for the length of one operation, so that a rebuild on the other thread never
// closes an event that is being waited on or about to be used.
using TKorvelEventsRef = std::shared_ptr<TKorvelEvents>;

// The five events, created in their fixed order; owns them.
class TKorvelEvents {
public:
    // Opens the five events in order. Raises EOSError when the OS refuses one; the events opened
    // before it are released again.
    TKorvelEvents();
    TKorvelEvents(const TKorvelEvents&) = delete;
    TKorvelEvents& operator=(const TKorvelEvents&) = delete;

    TEvent& MainThread() noexcept { return *FMainThread; }
    TEvent& MainThreadBusy() noexcept { return *FMainThreadBusy; }
    TEvent& Startup() noexcept { return *FStartup; }
    TEvent& Shutdown() noexcept { return *FShutdown; }
    TEvent& CallStream() noexcept { return *FCallStream; }

    // The process-wide set; call it at every use and keep the result no longer than that use.
    // The set exists from CreateKorvelEvents on. Should a rebuild have failed, the slot is empty
    // and this tries to open the events anew, raising EOSError when the OS still refuses them.
    static TKorvelEventsRef KorvelEvents();
    // Releases the process-wide set and puts a new one in its place. The old events are closed
    // once nobody holds them any more; events that no process holds are created anew, unset.
    // Raises EOSError when the new set cannot be opened, leaving the slot empty.
    static void RecreateKorvelEvents();

    // Start-up and final clean-up of the process-wide set.
    static void CreateKorvelEvents();
    static void ReleaseKorvelEvents() noexcept;

private:
    std::unique_ptr<TEvent> FMainThread;
    std::unique_ptr<TEvent> FMainThreadBusy;
    std::unique_ptr<TEvent> FStartup;
    std::unique_ptr<TEvent> FShutdown;
    std::unique_ptr<TEvent> FCallStream;
};
