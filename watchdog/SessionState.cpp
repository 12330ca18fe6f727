#include "SessionState.h"

#include "Module.h"
#include "ScopeExit.h"
#include "Unicode.h"
#include "WinApi.h"

#include <wtsapi32.h>

#include <memory>

namespace {

class TSystemSession final : public TSessionState {
public:
    bool Ending() override { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }
};

class TSystemProcessSessions final : public TProcessSessions {
public:
    std::optional<std::uint32_t> SessionOf(std::uint32_t processId) override {
        DWORD session = 0;
        if (!ProcessIdToSessionId(processId, &session))
            return std::nullopt;
        return session;
    }

    // The list comes without opening a process, which for another user's process a korvel without
    // elevation may not do.
    std::vector<TSessionProcess> Processes() override {
        const TSystemLibrary wtsApi(L"wtsapi32.dll");
        const auto enumerate =
            wtsApi.Procedure<decltype(WTSEnumerateProcessesW)>("WTSEnumerateProcessesW");
        const auto freeMemory = wtsApi.Procedure<decltype(WTSFreeMemory)>("WTSFreeMemory");
        WTS_PROCESS_INFOW* list = nullptr;
        DWORD count = 0;
        if (enumerate == nullptr || freeMemory == nullptr ||
            !enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count))
            return {};
        const TScopeExit release([list, freeMemory] { freeMemory(list); });
        std::vector<TSessionProcess> processes;
        for (DWORD i = 0; i < count; ++i)
            processes.push_back({list[i].ProcessId,
                                 list[i].SessionId,
                                 list[i].pProcessName ? Utf16ToUtf8(list[i].pProcessName) : "",
                                 {}});
        return processes;
    }
};

} // namespace

TSessionState& SystemSession() {
    static TSystemSession session;
    return session;
}

TProcessSessions& SystemProcessSessions() {
    static TSystemProcessSessions sessions;
    return sessions;
}

std::uint32_t OwnSessionId() noexcept {
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0;
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
