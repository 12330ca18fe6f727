#include "MonitorText.h"

#include "Errors.h"

#include <cstdio>

std::string WaitPiece(std::uint32_t seconds) {
    return "wait " + std::to_string(seconds) + " sec...";
}

std::string ExitCodeText(std::uint32_t code) {
    if (code < 0x80000000u)
        return std::to_string(code);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

std::string BackoffLine(std::uint32_t seconds) {
    return "Waiting " + std::to_string(seconds) + " sec before the next start.";
}

std::string FatalErrorLine(std::string_view className, std::string_view message) {
    std::string line = "Fatal error: ";
    line += className;
    if (message.empty())
        return line;
    line += ": ";
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n')
            continue;
        line += message[i] == '\r' || message[i] == '\n' ? ' ' : message[i];
    }
    return line;
}

std::optional<std::string> CloseRequestRefusal(const TCloseRequest& request) {
    if (request.Asked != 0)
        return std::nullopt;
    if (request.Qualified == 0 && request.Refusal == 0)
        return "failed - no window";
    return "failed - " + ReasonText(request.Refusal);
}
