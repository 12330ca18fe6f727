#include "LastChance.h"

#include "Errors.h"
#include "support/MessageBoxes.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

namespace {

struct TextCase {
    const char* name;
    const char* message;
    const char* expected;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class UnhandledErrorTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(UnhandledErrorTextTest, FullStopAddedOnlyWhenMissing) {
    EXPECT_EQ(UnhandledErrorText("EOSError", "tarrow.exe", 0x1A2Bu, GetParam().message),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnhandledErrorTextTest,
    testing::Values(
        TextCase{"NoFullStop", "Access denied",
                 "Exception EOSError in module tarrow.exe at 00001A2B.\r\nAccess denied.\r\n"},
        TextCase{"FullStop", "Access denied.",
                 "Exception EOSError in module tarrow.exe at 00001A2B.\r\nAccess denied.\r\n"},
        TextCase{"EmptyMessage", "",
                 "Exception EOSError in module tarrow.exe at 00001A2B.\r\n.\r\n"},
        TextCase{"LineBreakAtEnd", "System Error.  Code: 5.\r\n",
                 "Exception EOSError in module tarrow.exe at 00001A2B.\r\n"
                 "System Error.  Code: 5.\r\n.\r\n"}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(LastChanceTest, OffsetIsEightUpperCaseHexDigits) {
    EXPECT_EQ(UnhandledErrorText("E", "m", 0xABCDEF01u, "x"),
              "Exception E in module m at ABCDEF01.\r\nx.\r\n");
    EXPECT_EQ(StartupErrorText(0x4F2u), "Runtime error 217 at 000004F2");
    EXPECT_EQ(StartupErrorText(0xFFFFFFFFu), "Runtime error 217 at FFFFFFFF");
}

TEST(LastChanceTest, OffsetIsCountedFromTheImageBase) {
    const auto* base = reinterpret_cast<const char*>(GetModuleHandleA(nullptr));
    EXPECT_EQ(ImageOffset(base), 0u);
    EXPECT_EQ(ImageOffset(base + 0x1234), 0x1234u);
}

// The boxes are real: shown on a thread of our own, found by our process id and answered here.
TEST(LastChanceTest, UnhandledErrorShowsItsBoxAndGivesOne) {
    const auto* base = reinterpret_cast<const char*>(GetModuleHandleA(nullptr));
    const EInOutError error("Disk full", base + 0x42);
    auto exitCode = std::async(std::launch::async, [&] { return ReportUnhandledError(error); });

    const auto box = WaitForMessageBox(GetCurrentProcessId(), 20000);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->Caption, "Application Error");
    EXPECT_EQ(box->Text,
              "Exception EInOutError in module unit_tests.exe at 00000042.\r\nDisk full.\r\n");
    PressOk(*box);
    ASSERT_EQ(exitCode.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(exitCode.get(), 1);
}

TEST(LastChanceTest, StartupErrorShowsItsBoxAndGives217) {
    const auto* base = reinterpret_cast<const char*>(GetModuleHandleA(nullptr));
    auto exitCode = std::async(std::launch::async, [&] { return ReportStartupError(base + 0x10); });

    const auto box = WaitForMessageBox(GetCurrentProcessId(), 20000);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->Caption, "Error");
    EXPECT_EQ(box->Text, "Runtime error 217 at 00000010");
    PressOk(*box);
    ASSERT_EQ(exitCode.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(exitCode.get(), 217);
}

} // namespace
