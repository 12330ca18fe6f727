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

std::wstring WithoutSeparator(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

// The folder of a file, made full ("." and ".." resolved, a relative path taken from the current
// folder).
std::wstring FolderOf(const std::wstring& path) {
    std::wstring full(32768, L'\0'); // the longest path Windows knows
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    full.resize(length != 0 && length < full.size() ? length : 0);
    const std::size_t separator = full.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : full.substr(0, separator);
}

// Whether the watchdog of this INI file runs in the machine-wide layout: the package, or an
// administrator, names its folder in HKEY_LOCAL_MACHINE. There korvel.ini is the administrators'
// policy, which the application never writes, and korvel reads the id from the user's place only.
bool IsMachineWide(const std::wstring& watchdogIniPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(KorvelProtocol::MachineWideKey).c_str(), 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    const std::wstring name = Widen(KorvelProtocol::MachineWideFolderValue);
    std::wstring value(32768, L'\0');
    DWORD size = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
    DWORD type = 0;
    const LSTATUS result = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(value.data()), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return false;
    // The stored text need not end in a zero.
    value.resize(size / sizeof(wchar_t));
    const std::wstring named = WithoutSeparator(value.c_str());
    const std::wstring own = WithoutSeparator(FolderOf(watchdogIniPath));
    // As the file system compares names: letter case aside, in any script.
    return !named.empty() &&
           CompareStringOrdinal(named.c_str(), static_cast<int>(named.size()), own.c_str(),
                                static_cast<int>(own.size()), TRUE) == CSTR_EQUAL;
}

// The id as the user's own place holds it: <UserPlaceKey>\<SessionsKey>\<logon session>, both
// keys below the place volatile, so that the id goes with the sign-out or restart that ends the
// process it names. The place itself stays: korvel keeps what it learns there.
bool RecordInUserPlace(DWORD processId) {
    DWORD session = 0;
    if (!ProcessIdToSessionId(processId, &session))
        return false;
    HKEY keys[3] = {};
    const auto create = [&](HKEY parent, const std::wstring& name, DWORD options, REGSAM access,
                            HKEY& key) {
        return RegCreateKeyExW(parent, name.c_str(), 0, nullptr, options, access | KEY_WOW64_64KEY,
                               nullptr, &key, nullptr) == ERROR_SUCCESS;
    };
    const bool recorded =
        create(HKEY_CURRENT_USER, Widen(KorvelProtocol::UserPlaceKey), REG_OPTION_NON_VOLATILE,
               KEY_CREATE_SUB_KEY, keys[0]) &&
        create(keys[0], Widen(KorvelProtocol::SessionsKey), REG_OPTION_VOLATILE, KEY_CREATE_SUB_KEY,
               keys[1]) &&
        create(keys[1], std::to_wstring(session), REG_OPTION_VOLATILE, KEY_SET_VALUE, keys[2]) &&
        RegSetValueExW(keys[2], Widen(KorvelProtocol::ProcessIdKey).c_str(), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&processId),
                       sizeof processId) == ERROR_SUCCESS;
    for (HKEY key : keys)
        if (key != nullptr)
            RegCloseKey(key);
    return recorded;
}

// The id in korvel.ini, tried again for up to 2 s while another program holds the file.
bool RecordInIniFile(const std::wstring& watchdogIniPath, DWORD processId) {
    const std::wstring id = std::to_wstring(processId);
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

} // namespace

bool TKorvelLink::RecordProcessIdUtf8(const std::string& watchdogIniPath) {
    return RecordProcessId(Widen(watchdogIniPath));
}

bool TKorvelLink::RecordProcessId(const std::string& watchdogIniPath) {
    return RecordProcessId(Widen(watchdogIniPath, CP_ACP));
}

bool TKorvelLink::RecordProcessId(const std::wstring& watchdogIniPath) {
    const DWORD processId = GetCurrentProcessId();
    if (IsMachineWide(watchdogIniPath))
        return RecordInUserPlace(processId);
    if (RecordInIniFile(watchdogIniPath, processId))
        return true;
    // A korvel.ini that users may only read belongs to a machine-wide install, perhaps one that
    // the registry names by another spelling of the path (a short name, a mapped drive): its korvel
    // reads the user's place. In the layout this path is in, though, korvel reads the file only.
    RecordInUserPlace(processId);
    return false;
}

std::string TKorvelLink::WatchdogIniPath(const std::string& applicationDir) {
    return JoinIniPath(applicationDir, "korvel\\korvel.ini");
}

std::wstring TKorvelLink::WatchdogIniPath(const std::wstring& applicationDir) {
    return JoinIniPath(applicationDir, L"korvel\\korvel.ini");
}
