#include "MachineWideBed.h"

#include "Errors.h"
#include "KorvelProtocol.h"
#include "Unicode.h"
#include "WinApi.h"

TMachineWideBed::TMachineWideBed(const std::string& folder) {
    ClearUserPlace();
    HKEY key = nullptr;
    LSTATUS result = RegCreateKeyExW(
        HKEY_LOCAL_MACHINE, Utf8ToUtf16(KorvelProtocol::MachineWideKey).c_str(), 0, nullptr,
        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        RaiseOSError(TOSFailure::Call, static_cast<std::uint32_t>(result));
    const std::wstring text = Utf8ToUtf16(folder);
    result = RegSetValueExW(key, Utf8ToUtf16(KorvelProtocol::MachineWideFolderValue).c_str(), 0,
                            REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        RaiseOSError(TOSFailure::Call, static_cast<std::uint32_t>(result));
}

TMachineWideBed::~TMachineWideBed() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Utf8ToUtf16(KorvelProtocol::MachineWideKey).c_str(), 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, Utf8ToUtf16(KorvelProtocol::MachineWideFolderValue).c_str());
        RegCloseKey(key);
    }
    ClearUserPlace();
}

void TMachineWideBed::ClearUserPlace() {
    RegDeleteTreeW(HKEY_CURRENT_USER, Utf8ToUtf16(KorvelProtocol::UserPlaceKey).c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, Utf8ToUtf16(KorvelProtocol::UserPlaceKey).c_str());
}

std::string TMachineWideBed::OwnSessionKey() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return std::string(KorvelProtocol::UserPlaceKey) + "\\" + KorvelProtocol::SessionsKey + "\\" +
           std::to_string(session);
}
