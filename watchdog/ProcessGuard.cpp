#include "ProcessGuard.h"

#include "Errors.h"
#include "PathText.h"

#include <algorithm>

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
    if (recorded == processes.end() || recorded->SessionId == ownSession ||
        !sameFileName(recorded->Name, expected))
        return {0, std::string(recordedRefusal)};
    return ChooseByImage(recordedRefusal, ownSession, applicationPath, processes, sameFileName);
}

TStandIn ChooseByImage(std::string_view refusal, std::uint32_t ownSession,
                       std::string_view applicationPath,
                       const std::vector<TSessionProcess>& processes, TSameFileName sameFileName) {
    std::vector<std::uint32_t> found;
    for (const TSessionProcess& p : processes)
        if (p.SessionId == ownSession && !p.ImagePath.empty() &&
            sameFileName(p.ImagePath, applicationPath))
            found.push_back(p.ProcessId);
    if (found.size() == 1)
        return {found.front(), {}};
    if (found.empty())
        return {0, std::string(refusal)};
    return {0, std::string(refusal) + "; " + std::to_string(found.size()) +
                   " processes of this session are " +
                   std::string(ExtractFileName(ApplicationFile)) + ", none chosen"};
}
