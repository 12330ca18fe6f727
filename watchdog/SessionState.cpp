#include "SessionState.h"

#include "WinApi.h"

#include <wtsapi32.h>

#include <memory>
#include <string>
#include <type_traits>

namespace {

class TSystemSession final : public TSessionState {
public:
    bool Ending() override { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }
};

using TModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;

// wtsapi32.dll is not one of the system's known DLLs: loaded by name, it would be looked for in
// korvel's own folder first, which its user may be able to write. Only the system directory's copy.
TModule LoadSystemWtsApi() {
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {nullptr, &FreeLibrary};
    const std::wstring path = std::wstring(directory, length) + L"\\wtsapi32.dll";
    return {LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH), &FreeLibrary};
}

template <class TFunction> TFunction* Function(HMODULE module, const char* name) {
    return reinterpret_cast<TFunction*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

TSessionState& SystemSession() {
    static TSystemSession session;
    return session;
}

std::optional<std::vector<std::uint32_t>> MachineSessions() {
    const TModule wtsApi = LoadSystemWtsApi();
    if (!wtsApi)
        return std::nullopt;
    const auto enumerate =
        Function<decltype(WTSEnumerateSessionsW)>(wtsApi.get(), "WTSEnumerateSessionsW");
    const auto release = Function<decltype(WTSFreeMemory)>(wtsApi.get(), "WTSFreeMemory");
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (enumerate == nullptr || release == nullptr ||
        !enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count))
        return std::nullopt;
    const std::unique_ptr<WTS_SESSION_INFOW, decltype(release)> owner(sessions, release);
    std::vector<std::uint32_t> ids;
    for (DWORD i = 0; i < count; ++i)
        ids.push_back(sessions[i].SessionId);
    return ids;
}
