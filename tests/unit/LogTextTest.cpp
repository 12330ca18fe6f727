#include "LogText.h"

#include <gtest/gtest.h>

namespace {

struct TimestampCase {
    const char* format;
    TTimestampParts parts;
    const char* separator;
    const char* expected;
};

class FormatTimestampTest : public testing::TestWithParam<TimestampCase> {};

TEST_P(FormatTimestampTest, FormatsTheParts) {
    const TimestampCase& c = GetParam();
    EXPECT_EQ(FormatTimestamp(c.format, c.parts, c.separator), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormatTimestampTest,
    testing::Values(
        TimestampCase{"yyyy-mm-dd hh:nn:ss", {2024, 3, 7, 9, 5, 2}, ":", "2024-03-07 09:05:02"},
        TimestampCase{
            "yyyy-mm-dd hh:nn:ss", {1999, 12, 31, 23, 59, 59}, ":", "1999-12-31 23:59:59"},
        TimestampCase{"yyyy-mm-dd hh:nn:ss", {2000, 1, 1, 0, 0, 0}, ":", "2000-01-01 00:00:00"},
        // The time parts take the regional separator; the date parts keep their dashes.
        TimestampCase{"yyyy-mm-dd hh:nn:ss", {2024, 3, 7, 9, 5, 2}, ".", "2024-03-07 09.05.02"},
        TimestampCase{
            "yyyy-mm-dd hh:nn:ss", {2024, 3, 7, 9, 5, 2}, " h ", "2024-03-07 09 h 05 h 02"},
        // Years are at least four digits, never cut.
        TimestampCase{"yyyy", {987, 1, 1, 0, 0, 0}, ":", "0987"},
        TimestampCase{"yyyy", {30827, 1, 1, 0, 0, 0}, ":", "30827"},
        // "mm" is always the month, "nn" the minutes.
        TimestampCase{"mm nn", {2024, 11, 1, 0, 42, 0}, ":", "11 42"},
        // Characters outside the tokens stand for themselves, single letters included.
        TimestampCase{"[d/m y]", {2024, 11, 1, 0, 42, 0}, ":", "[d/m y]"},
        TimestampCase{"", {2024, 11, 1, 0, 42, 0}, ":", ""}));

struct EntryCase {
    const char* pending;
    const char* timestamp;
    const char* message;
    bool lineEnd;
    const char* expected;
};

class LogEntryTextTest : public testing::TestWithParam<EntryCase> {};

TEST_P(LogEntryTextTest, JoinsThePieces) {
    const EntryCase& c = GetParam();
    EXPECT_EQ(LogEntryText(c.pending, c.timestamp, c.message, c.lineEnd), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogEntryTextTest,
    testing::Values(EntryCase{"", "2024-03-07 09:05:02", "Korvel started.", true,
                              "2024-03-07 09:05:02 Korvel started.\r\n"},
                    EntryCase{"", "2024-03-07 09:05:02", "Trying to kill...", false,
                              "2024-03-07 09:05:02 Trying to kill..."},
                    // The second half of a line: no timestamp, no blank.
                    EntryCase{"", "", "success", true, "success\r\n"},
                    EntryCase{"", "2024-03-07 09:05:02", "", true, "2024-03-07 09:05:02 \r\n"},
                    EntryCase{"", "", "", false, ""},
                    // The marker stands ahead of the timestamp and brings no line break of its own.
                    EntryCase{"Error opening file.\r\nDisk full or write-protected?",
                              "2024-03-07 09:05:02", "Process detected.", true,
                              "***Error opening file.\r\nDisk full or write-protected?***"
                              "2024-03-07 09:05:02 Process detected.\r\n"},
                    EntryCase{"Error closing file.", "", "success", false,
                              "***Error closing file.***success"}));

} // namespace
