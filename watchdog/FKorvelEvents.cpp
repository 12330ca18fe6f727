#include "FKorvelEvents.h"

#include "Errors.h"
#include "KorvelProtocol.h"
#include "Unicode.h"
#include "WinApi.h"

#include <mutex>

TEvent::TEvent(const char* name)
    : FHandle(CreateEventW(nullptr, TRUE, FALSE, Utf8ToUtf16(name).c_str())) {}

WaitResult TEvent::WaitFor(std::uint32_t timeout) {
    return Outcome(WaitForSingleObject(FHandle.Get(), timeout));
}

WaitResult TEvent::WaitForEither(void* other, bool& otherFirst) {
    otherFirst = false;
    if (other == nullptr)
        return WaitFor(WaitInfinite);
    const HANDLE handles[] = {FHandle.Get(), other};
    const DWORD code = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (code == WAIT_OBJECT_0 + 1) {
        otherFirst = true;
        return WaitResult::Signaled;
    }
    return Outcome(code == WAIT_ABANDONED_0 + 1 ? WAIT_ABANDONED_0 : code);
}

WaitResult TEvent::Outcome(unsigned long code) {
    switch (code) {
    case WAIT_OBJECT_0:
        return WaitResult::Signaled;
    case WAIT_TIMEOUT:
        return WaitResult::TimedOut;
    case WAIT_ABANDONED:
        return WaitResult::Abandoned;
    case WAIT_FAILED:
        FLastError = static_cast<std::int32_t>(GetLastError());
        return WaitResult::Failed;
    default:
        return WaitResult::Failed;
    }
}

void TEvent::SetEvent() noexcept {
    ::SetEvent(FHandle.Get());
}

void TEvent::ResetEvent() noexcept {
    ::ResetEvent(FHandle.Get());
}

namespace {

std::unique_ptr<TEvent> OpenKorvelEvent(const char* name) {
    auto event = std::make_unique<TEvent>(name);
    if (!event->IsValid())
        RaiseLastOSError();
    return event;
}

// Guards the slot only, never a wait: holding it is a matter of a pointer copy.
std::mutex SlotLock;
TKorvelEventsRef Slot;

} // namespace

// Members are built in declaration order; when one raises, those before it are released.
TKorvelEvents::TKorvelEvents()
    : FMainThread(OpenKorvelEvent(KorvelProtocol::MainThreadEvent)),
      FMainThreadBusy(OpenKorvelEvent(KorvelProtocol::MainThreadBusyEvent)),
      FStartup(OpenKorvelEvent(KorvelProtocol::StartupEvent)),
      FShutdown(OpenKorvelEvent(KorvelProtocol::ShutdownEvent)),
      FCallStream(OpenKorvelEvent(KorvelProtocol::CallStreamEvent)) {}

TKorvelEventsRef TKorvelEvents::KorvelEvents() {
    std::lock_guard lock(SlotLock);
    if (!Slot)
        Slot = std::make_shared<TKorvelEvents>();
    return Slot;
}

void TKorvelEvents::RecreateKorvelEvents() {
    TKorvelEventsRef old;
    std::lock_guard lock(SlotLock);
    old.swap(Slot);
    // Drop our reference before opening anew: when nobody else holds the old events, their
    // kernel objects go and the new set starts from fresh, unset events.
    old.reset();
    Slot = std::make_shared<TKorvelEvents>();
}

void TKorvelEvents::CreateKorvelEvents() {
    std::lock_guard lock(SlotLock);
    Slot = std::make_shared<TKorvelEvents>();
}

void TKorvelEvents::ReleaseKorvelEvents() noexcept {
    TKorvelEventsRef old;
    std::lock_guard lock(SlotLock);
    old.swap(Slot);
}
