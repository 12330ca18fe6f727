#include "SessionState.h"

#include "Module.h"
#include "WinApi.h"

#include <wtsapi32.h>

#include <memory>

namespace {

class TSystemSession final : public TSessionState {
public:
    bool Ending() override { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }
};

} // namespace

TSessionState& SystemSession() {
    static TSystemSession session;
    return session;
}

std::optional<std::vector<std::uint32_t>> MachineSessions() {
    const TSystemLibrary wtsApi(L"wtsapi32.dll");
    const auto enumerate =
        wtsApi.Procedure<decltype(WTSEnumerateSessionsW)>("WTSEnumerateSessionsW");
    const auto release = wtsApi.Procedure<decltype(WTSFreeMemory)>("WTSFreeMemory");
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
