#include "WatchdogEvents.h"

#include "Deadline.h"
#include "EventNames.h"
#include "SharedFile.h"

#include <algorithm>
#include <regex>

const TEventRole EventRoles[5] = {
    {TamrixEventNames[0], &TKorvelEvents::MainThread},
    {TamrixEventNames[1], &TKorvelEvents::MainThreadBusy},
    {TamrixEventNames[2], &TKorvelEvents::Startup},
    {TamrixEventNames[3], &TKorvelEvents::Shutdown},
    {TamrixEventNames[4], &TKorvelEvents::CallStream},
};

std::string WatchdogStates(TKorvelEvents& events) {
    std::string states;
    for (const TEventRole& role : EventRoles) {
        const WaitResult result = (events.*role.Get)().WaitFor(0);
        states += result == WaitResult::Signaled ? '1' : result == WaitResult::TimedOut ? '0' : '?';
    }
    return states;
}

std::string WatchdogStates() {
    return WatchdogStates(*TKorvelEvents::KorvelEvents());
}

void ResetWatchdogEvents() {
    const TKorvelEventsRef events = TKorvelEvents::KorvelEvents();
    for (const TEventRole& role : EventRoles)
        ((*events).*role.Get)().ResetEvent();
}

void TWatchdogEventsTest::SetUp() {
    TKorvelEvents::CreateKorvelEvents();
    ResetWatchdogEvents();
}

void TWatchdogEventsTest::TearDown() {
    ResetWatchdogEvents();
    TKorvelEvents::ReleaseKorvelEvents();
}

std::vector<std::string> LogLines(const std::string& logPath) {
    static const std::regex timestamp(R"(^\d{4}-\d\d-\d\d \d\d.\d\d.\d\d )");
    const std::string text = ReadSharedFile(logPath).value_or("");
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(std::regex_replace(text.substr(start, end - start), timestamp, "",
                                           std::regex_constants::format_first_only));
    return lines;
}

bool WaitForLogLine(const std::string& logPath, const std::string& line, std::uint32_t timeoutMs,
                    std::size_t occurrence) {
    return WaitUntil(
        [&] {
            const auto lines = LogLines(logPath);
            return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line)) >=
                   occurrence;
        },
        timeoutMs);
}
