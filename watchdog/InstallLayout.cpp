#include "InstallLayout.h"

#include "Errors.h"
#include "Module.h"
#include "PathText.h"
#include "Unicode.h"
#include "WinApi.h"

#include <algorithm>
#include <iterator>

std::string SettingsFileName() {
    return ChangeFileExt(ModuleFileName(), ".ini");
}

std::string SessionLogFileName(std::string_view userName, std::uint32_t sessionId) {
    std::string name(userName);
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
            c = '_';
    }
    return std::string(LogFolder) + "\\korvel-" + name + "-" + std::to_string(sessionId) + ".log";
}

std::string OwnLogFileName(bool perSession) {
    DWORD sessionId = 0;
    wchar_t user[257]; // UNLEN + 1
    DWORD length = static_cast<DWORD>(std::size(user));
    if (!perSession || !ProcessIdToSessionId(GetCurrentProcessId(), &sessionId) ||
        !GetUserNameW(user, &length))
        return LogFileName;
    return SessionLogFileName(Utf16ToUtf8(user), sessionId);
}

void EnterOwnDirectory() noexcept {
    try {
        const std::string directory(ExtractFileDir(ModuleFileName()));
        SetCurrentDirectoryW(Utf8ToUtf16(directory).c_str());
    } catch (...) {
    }
}

bool SameSystemFileName(std::string_view a, std::string_view b) {
    const std::wstring wideA = Utf8ToUtf16(a);
    const std::wstring wideB = Utf8ToUtf16(b);
    return CompareStringOrdinal(wideA.data(), static_cast<int>(wideA.size()), wideB.data(),
                                static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

TImageVerdict ImageVerdict(std::uint32_t processId, std::string_view imagePath, bool ownSession,
                           TSameFileName sameFileName) {
    if (!ownSession)
        return {false, "process " + std::to_string(processId) + " runs in another logon session"};
    const std::string_view found = ExtractFileName(imagePath);
    const std::string_view expected = ExtractFileName(ApplicationFile);
    if (sameFileName(found, expected))
        return {true, {}};
    return {false, "process " + std::to_string(processId) + " is " + std::string(found) + ", not " +
                       std::string(expected)};
}

TImageVerdict ImageQueryFailed(std::uint32_t errorCode) {
    return {false, ReasonText(errorCode)};
}

TStandIn ChooseStandIn(std::uint32_t recordedId, std::string_view recordedRefusal,
                       std::uint32_t ownSession, std::string_view applicationPath,
                       const std::vector<TSessionProcess>& processes, TSameFileName sameFileName) {
    const std::string_view expected = ExtractFileName(ApplicationFile);
    const auto recorded =
        std::find_if(processes.begin(), processes.end(),
                     [&](const TSessionProcess& p) { return p.ProcessId == recordedId; });
    const TStandIn refused{0, std::string(recordedRefusal)};
    if (recorded == processes.end() || recorded->SessionId == ownSession ||
        !sameFileName(recorded->Name, expected))
        return refused;
    std::vector<std::uint32_t> found;
    for (const TSessionProcess& p : processes)
        if (p.SessionId == ownSession && !p.ImagePath.empty() &&
            sameFileName(p.ImagePath, applicationPath))
            found.push_back(p.ProcessId);
    if (found.size() == 1)
        return {found.front(), {}};
    if (found.empty())
        return refused;
    return {0, refused.Refusal + "; " + std::to_string(found.size()) +
                   " processes of this session are " + std::string(expected) + ", none chosen"};
}
