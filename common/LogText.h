// The text the log writes, built from plain values: the timestamp of a line and the whole text of
// one message. Standard headers only, so that the layout of the log is tested without any file.
#pragma once

#include <string>
#include <string_view>

// A local date and time as plain numbers (month and day from 1, hour 0 to 23).
struct TTimestampParts {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};

// Formats parts with format, which understands "yyyy" (the year, at least four digits), "mm",
// "dd", "hh", "nn", "ss" (two digits each, leading zero) and ":" (replaced by timeSeparator); every
// other character stands for itself. "yyyy-mm-dd hh:nn:ss" is the log's format.
std::string FormatTimestamp(std::string_view format, const TTimestampParts& parts,
                            std::string_view timeSeparator);

// The text one message adds to the file: "***" pendingError "***" when an error is pending, then
// timestamp and one blank when timestamp is not empty, then message, then CR LF when lineEnd.
std::string LogEntryText(std::string_view pendingError, std::string_view timestamp,
                         std::string_view message, bool lineEnd);
