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

namespace {

// The kit depends on nothing else of korvel's, so it converts for itself.
std::wstring Widen(const std::string& text, UINT codePage = CP_UTF8) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

template <typename TChar>
std::basic_string<TChar> JoinIniPath(std::basic_string<TChar> path, const TChar* tail) {
    if (!path.empty() && path.back() != '\\' && path.back() != '/' && path.back() != ':')
        path += '\\';
    return path + tail;
}

} // namespace

bool TKorvelLink::RecordProcessIdUtf8(const std::string& watchdogIniPath) {
    return RecordProcessId(Widen(watchdogIniPath));
}

bool TKorvelLink::RecordProcessId(const std::string& watchdogIniPath) {
    return RecordProcessId(Widen(watchdogIniPath, CP_ACP));
}

bool TKorvelLink::RecordProcessId(const std::wstring& watchdogIniPath) {
    const std::wstring id = std::to_wstring(GetCurrentProcessId());
    // The watchdog, a scanner or a backup agent may hold the file for a moment (the watchdog's
    // own look at it shares no writing); an id lost to that moment could never be killed by.
    for (int attempt = 1;; ++attempt) {
        if (WritePrivateProfileStringW(Widen(KorvelProtocol::ApplicationSection).c_str(),
                                       Widen(KorvelProtocol::ProcessIdKey).c_str(), id.c_str(),
                                       watchdogIniPath.c_str()))
            return true;
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION) || attempt == 40)
            return false;
        Sleep(50);
    }
}

std::string TKorvelLink::WatchdogIniPath(const std::string& applicationDir) {
    return JoinIniPath(applicationDir, "korvel\\korvel.ini");
}

std::wstring TKorvelLink::WatchdogIniPath(const std::wstring& applicationDir) {
    return JoinIniPath(applicationDir, L"korvel\\korvel.ini");
}
