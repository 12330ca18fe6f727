#include "LogText.h"

namespace {

void AppendNumber(std::string& text, int value, std::size_t minDigits) {
    const std::string digits = std::to_string(value);
    if (digits.size() < minDigits)
        text.append(minDigits - digits.size(), '0');
    text += digits;
}

// The two-letter tokens and the part each stands for; "yyyy" is handled on its own.
int PartOf(std::string_view token, const TTimestampParts& parts, bool& known) {
    known = true;
    if (token == "mm")
        return parts.Month;
    if (token == "dd")
        return parts.Day;
    if (token == "hh")
        return parts.Hour;
    if (token == "nn")
        return parts.Minute;
    if (token == "ss")
        return parts.Second;
    known = false;
    return 0;
}

} // namespace

std::string FormatTimestamp(std::string_view format, const TTimestampParts& parts,
                            std::string_view timeSeparator) {
    std::string text;
    text.reserve(format.size() + 4);
    std::size_t i = 0;
    while (i < format.size()) {
        const std::string_view rest = format.substr(i);
        if (rest.starts_with("yyyy")) {
            AppendNumber(text, parts.Year, 4);
            i += 4;
            continue;
        }
        if (rest.size() >= 2) {
            bool known = false;
            const int value = PartOf(rest.substr(0, 2), parts, known);
            if (known) {
                AppendNumber(text, value, 2);
                i += 2;
                continue;
            }
        }
        if (rest.front() == ':')
            text += timeSeparator;
        else
            text += rest.front();
        ++i;
    }
    return text;
}

std::string LogEntryText(std::string_view pendingError, std::string_view timestamp,
                         std::string_view message, bool lineEnd) {
    std::string text;
    text.reserve(pendingError.size() + timestamp.size() + message.size() + 10);
    if (!pendingError.empty()) {
        text += "***";
        text += pendingError;
        text += "***";
    }
    if (!timestamp.empty()) {
        text += timestamp;
        text += ' ';
    }
    text += message;
    if (lineEnd)
        text += "\r\n";
    return text;
}
