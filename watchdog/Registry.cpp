#include "Registry.h"

#include "Errors.h"
#include "Unicode.h"
#include "WinApi.h"

#include <memory>
#include <string_view>
#include <type_traits>

namespace {

struct TKeyCloser {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
using TKey = std::unique_ptr<std::remove_pointer_t<HKEY>, TKeyCloser>;

HKEY RootKey(TRegistryRoot root) {
    return root == TRegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

TKey OpenForReading(TRegistryRoot root, const std::string& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(RootKey(root), Utf8ToUtf16(key).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      &opened) != ERROR_SUCCESS)
        return nullptr;
    return TKey(opened);
}

} // namespace

std::optional<std::string> ReadRegistryText(TRegistryRoot root, const std::string& key,
                                            const std::string& name) {
    const TKey opened = OpenForReading(root, key);
    const std::wstring wideName = Utf8ToUtf16(name);
    DWORD type = 0;
    DWORD size = 0;
    if (!opened ||
        RegQueryValueExW(opened.get(), wideName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(opened.get(), wideName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    // The stored text need not end in a zero, and may hold one before its end.
    text.resize(size / sizeof(wchar_t));
    return Utf16ToUtf8(std::wstring_view(text.c_str()));
}

std::optional<std::uint32_t> ReadRegistryNumber(TRegistryRoot root, const std::string& key,
                                                const std::string& name) {
    const TKey opened = OpenForReading(root, key);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!opened ||
        RegQueryValueExW(opened.get(), Utf8ToUtf16(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

void WriteRegistryNumber(TRegistryRoot root, const std::string& key, const std::string& name,
                         std::uint32_t value) {
    HKEY created = nullptr;
    LSTATUS result = RegCreateKeyExW(RootKey(root), Utf8ToUtf16(key).c_str(), 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                     nullptr, &created, nullptr);
    if (result != ERROR_SUCCESS)
        RaiseOSError(TOSFailure::Call, static_cast<std::uint32_t>(result));
    const TKey owned(created);
    const DWORD data = value;
    result = RegSetValueExW(created, Utf8ToUtf16(name).c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&data), sizeof data);
    if (result != ERROR_SUCCESS)
        RaiseOSError(TOSFailure::Call, static_cast<std::uint32_t>(result));
}
