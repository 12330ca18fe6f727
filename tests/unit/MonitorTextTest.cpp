// The supervisor's texts with values, and its throttle of repeated errors, as tables.
#include "Errors.h"
#include "MonitorText.h"
#include "WinApi.h"
#include "Throttle.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(MonitorTextTest, ExitCodesInDecimalOrAsNtStatus) {
    const std::vector<std::pair<std::uint32_t, std::string>> table = {{0, "0"},
                                                                      {3, "3"},
                                                                      {12345, "12345"},
                                                                      {0x7FFFFFFF, "2147483647"},
                                                                      {0x80000000, "0x80000000"},
                                                                      {0xC0000005, "0xC0000005"},
                                                                      {0xC000013A, "0xC000013A"},
                                                                      {0xFFFFFFFF, "0xFFFFFFFF"}};
    for (const auto& [code, text] : table)
        EXPECT_EQ(ExitCodeText(code), text) << code;
}

TEST(MonitorTextTest, FatalErrorIsOneLine) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"Unable to write to C:\\k\\korvel.ini",
         "Fatal error: E: Unable to write to C:\\k\\korvel.ini"},
        {"System Error.  Code: 5.\r\nAccess denied",
         "Fatal error: E: System Error.  Code: 5. Access denied"},
        {"a\nb\rc\r\n", "Fatal error: E: a b c "},
        {"", "Fatal error: E"}};
    for (const auto& [message, line] : table)
        EXPECT_EQ(FatalErrorLine("E", message), line) << message;
}

// Catches a refused post reported as "no window", and a request that reached one window of several
// taken for a failure.
TEST(MonitorTextTest, CloseRequestSaysWhyItReachedNoWindow) {
    const struct {
        TCloseRequest request;
        std::optional<std::string> line;
    } table[] = {
        {{0, 0, 0}, "failed - no window"},
        {{2, 0, ERROR_ACCESS_DENIED}, "failed - " + ReasonText(ERROR_ACCESS_DENIED)},
        {{0, 0, ERROR_NOT_ENOUGH_MEMORY}, "failed - " + ReasonText(ERROR_NOT_ENOUGH_MEMORY)},
        {{2, 1, ERROR_ACCESS_DENIED}, std::nullopt}};
    for (const auto& row : table)
        EXPECT_EQ(CloseRequestRefusal(row.request), row.line) << &row - table;
}

// A step of the table: at that tick, that text; whether it may be written.
struct ThrottleStep {
    std::uint32_t now;
    const char* text;
    bool allowed;
};

TEST(RepeatThrottleTest, TheSameTextAtMostOnceAMinute) {
    const std::vector<ThrottleStep> steps = {
        {1000, "A", true},
        {2000, "A", false},
        {60999, "A", false},
        {61000, "A", true},
        // Another text shows at once, and alternating texts are each held to once a minute.
        {62000, "B", true},
        {63000, "A", false},
        {64000, "B", false},
        {122000, "B", true},
        // Across the 32-bit wrap.
        {4294960000u, "C", true},
        {40000, "C", false},
        {52704, "C", true}};
    TRepeatThrottle throttle(60000);
    for (const ThrottleStep& step : steps)
        EXPECT_EQ(throttle.Allow(step.text, step.now), step.allowed)
            << step.now << " " << step.text;
}

} // namespace
