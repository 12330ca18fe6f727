#include "EventLogText.h"

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

std::optional<TEventLogEntry> EventLogEntryFor(std::string_view line) {
    using namespace KorvelEventId;
    struct TRule {
        std::string_view Start;
        bool Whole; // the line is exactly Start, not only begins with it
        TEventLogEntry Entry;
    };
    static constexpr TRule Rules[] = {
        {"Korvel started.", true, {Started, TEventLevel::Information}},
        {"Korvel shut down.", true, {ShutDown, TEventLevel::Information}},
        {"Main thread not responding.", true, {MainThreadNotResponding, TEventLevel::Warning}},
        {"Call stream thread not responding.",
         true,
         {CallStreamNotResponding, TEventLevel::Warning}},
        {"Process ended with exit code ", false, {ProcessEnded, TEventLevel::Warning}},
        {"Trying to dump...success", false, {Dumped, TEventLevel::Information}},
        {"Trying to kill...failed - ", false, {KillRefused, TEventLevel::Error}},
        {"Restart failed. Please run the application manually.",
         true,
         {RestartFailed, TEventLevel::Error}},
        {"Fatal error: ", false, {FatalError, TEventLevel::Error}},
        // error_box=0: the error that ended korvel, in place of its box.
        {"Application Error: ", false, {FatalError, TEventLevel::Error}},
    };
    // hang_stack: a hang's event carries its site lines after its own.
    const std::string_view first = line.substr(0, line.find("\r\n"));
    for (const TRule& rule : Rules)
        if (rule.Whole ? first == rule.Start : StartsWith(line, rule.Start))
            return rule.Entry;
    // A start step's waits share its line: only its last outcome tells.
    if (StartsWith(line, "Trying to start...") && EndsWith(line, "...success"))
        return TEventLogEntry{Restarted, TEventLevel::Information};
    // A close that timed out or found no window is no refusal: the kill follows and reports its
    // own outcome.
    constexpr std::string_view CloseFailed = "Trying to close...failed - ";
    if (StartsWith(line, CloseFailed) && line != "Trying to close...failed - timed out" &&
        line != "Trying to close...failed - no window")
        return TEventLogEntry{CloseRefused, TEventLevel::Error};
    return std::nullopt;
}
