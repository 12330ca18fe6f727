// The texts of the supervisor's log lines that carry values, built from plain values so that each
// is checked as a table. No Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The piece of a start line for one launch: "wait N sec...".
std::string WaitPiece(std::uint32_t seconds);

// An exit code as "Process ended with exit code N." shows it: decimal, or "0x" and eight
// upper-case hex digits from 0x80000000 on, where the codes are NTSTATUS values such as
// 0xC0000005.
std::string ExitCodeText(std::uint32_t code);

// "Waiting N sec before the next start."
std::string BackoffLine(std::uint32_t seconds);

// "Fatal error: <class>: <message>" on one line: the message's own line breaks (an EOSError's CR
// LF) become one blank each. Without a message: "Fatal error: <class>".
std::string FatalErrorLine(std::string_view className, std::string_view message);

// What asking Tamrix's windows to close found: how many windows a user's click could close, how
// many took the request, and the error of the last that failed (a post refused, or the search cut
// short), 0 when none did.
struct TCloseRequest {
    std::size_t Qualified = 0;
    std::size_t Asked = 0;
    std::uint32_t Refusal = 0;
};

// The end of the "Trying to close..." line when the request reached no window, or nothing when one
// took it and the wait for Tamrix's end follows. "failed - no window" only when no window could be
// asked and nothing failed; otherwise "failed - " and the system text of the failure (an elevated
// Tamrix, whose windows a standard korvel may not post to).
std::optional<std::string> CloseRequestRefusal(const TCloseRequest& request);
