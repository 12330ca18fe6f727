// Which of korvel's log lines go to the Windows event log, and as what: a plain function of the
// completed line, so that every line that starts the same way is covered, wherever it is written.
// No Windows headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The event types of ReportEventW, by their values.
enum class TEventLevel : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

// The event ids, fixed: an administrator's filters and forwarding rules name them. Each has its
// entry in the message table of korvel.exe (res/korvel-messages.mc), which shows the line as is.
namespace KorvelEventId {
constexpr std::uint32_t Started = 1;
constexpr std::uint32_t ShutDown = 2;
constexpr std::uint32_t MainThreadNotResponding = 100;
constexpr std::uint32_t CallStreamNotResponding = 101;
constexpr std::uint32_t ProcessEnded = 102;
constexpr std::uint32_t Restarted = 200;
constexpr std::uint32_t Dumped = 201;
constexpr std::uint32_t KillRefused = 300;
constexpr std::uint32_t CloseRefused = 301;
constexpr std::uint32_t RestartFailed = 302;
constexpr std::uint32_t FatalError = 303;
} // namespace KorvelEventId

struct TEventLogEntry {
    std::uint32_t Id;
    TEventLevel Level;
    bool operator==(const TEventLogEntry&) const = default;
};

// The event of one completed log line (without its timestamp and line end); nothing for a line
// that is no event. A text of several lines (a hang and its site) is the event of its first.
std::optional<TEventLogEntry> EventLogEntryFor(std::string_view line);
