#include "KorvelLink.h"

#include "KorvelProtocol.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

TKorvelLink::TKorvelLink() {
    using namespace KorvelProtocol;
    const char* names[EventCount] = {MainThreadEvent, MainThreadBusyEvent, StartupEvent,
                                     ShutdownEvent, CallStreamEvent};
    for (int i = 0; i < EventCount; ++i) {
        // Same kind as the watchdog's: manual reset, so a pulse stays set until korvel has seen it.
        FEvents[i] = CreateEventA(nullptr, TRUE, FALSE, names[i]);
        if (FEvents[i] == nullptr && FOpenError == 0)
            FOpenError = GetLastError();
    }
}

TKorvelLink::~TKorvelLink() {
    for (void* event : FEvents)
        if (event != nullptr)
            CloseHandle(event);
}

bool TKorvelLink::IsOpen() const noexcept {
    for (void* event : FEvents)
        if (event == nullptr)
            return false;
    return true;
}

void TKorvelLink::Set(int index) noexcept {
    if (FEvents[index] != nullptr)
        SetEvent(FEvents[index]);
}

void TKorvelLink::SignalStartup() noexcept {
    Set(Startup);
}
void TKorvelLink::PulseMainThread() noexcept {
    Set(MainThread);
}
void TKorvelLink::AnnounceBusy() noexcept {
    Set(MainThreadBusy);
}
void TKorvelLink::PulseCallStream() noexcept {
    Set(CallStream);
}

void TKorvelLink::SignalShutdown() noexcept {
    // A start still set when the watchdog looks after the shutdown would count as a new start.
    if (FEvents[Startup] != nullptr)
        ResetEvent(FEvents[Startup]);
    Set(Shutdown);
}

bool TKorvelLink::RecordProcessId(const std::string& watchdogIniPath) {
    const std::string id = std::to_string(GetCurrentProcessId());
    return WritePrivateProfileStringA(KorvelProtocol::ApplicationSection,
                                      KorvelProtocol::ProcessIdKey, id.c_str(),
                                      watchdogIniPath.c_str()) != FALSE;
}

std::string TKorvelLink::WatchdogIniPath(const std::string& applicationDir) {
    std::string path = applicationDir;
    if (!path.empty() && path.back() != '\\' && path.back() != '/' && path.back() != ':')
        path += '\\';
    return path + "korvel\\korvel.ini";
}
