// tarrow.exe end to end: the real program under Wine, its message boxes found and answered as a
// user would, the programs it starts recorded by RecordArgs.exe.
#include "Errors.h"
#include "Handle.h"
#include "support/Deadline.h"
#include "support/MessageBoxes.h"
#include "support/Processes.h"
#include "support/TempDir.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr const char* Caption = "A tool delaying the execution of a program.";
constexpr const char* BadDelay = "The interval must be a positive integer number of seconds.";
// Upper bounds are generous: two shared cores, and Wine starts a process in hundreds of ms.
constexpr std::uint32_t Patience = 30000;

std::string ExpectedUsage(const std::string& name) {
    return "Usage: " + name +
           " <delay in seconds> [<program to run> [\"<parameters>\"]]\r\n"
           "\r\n"
           "Example: " +
           name +
           " 5 cmd \"/k dir C:\\ /a\"\r\n"
           "shows the contents of the root directory after 5 seconds.";
}

std::string TarrowPath() {
    return TestBinDirectory() + "\\tarrow.exe";
}

std::string RecordArgsPath() {
    return TestBinDirectory() + "\\RecordArgs.exe";
}

struct TRun {
    std::uint64_t Started;
    std::unique_ptr<TChildProcess> Process;

    std::uint64_t Elapsed() const { return GetTickCount64() - Started; }
};

TRun StartTarrow(const std::string& arguments, const std::string& program = TarrowPath(),
                 const std::string& directory = "") {
    TRun run;
    run.Started = GetTickCount64();
    run.Process = std::make_unique<TChildProcess>(
        Quoted(program) + (arguments.empty() ? "" : " " + arguments), directory);
    return run;
}

// Waits for the box that the run shows, checks its caption, presses OK and checks that the program
// then ends with exit code 0. Gives the box's text (empty when no box came).
std::string AnswerBox(const TRun& run) {
    const auto box = WaitForMessageBox(run.Process->ProcessId(), Patience);
    if (!box) {
        ADD_FAILURE() << "no message box";
        return "";
    }
    EXPECT_EQ(box->Caption, Caption);
    PressOk(*box);
    EXPECT_TRUE(run.Process->WaitForExit(Patience));
    EXPECT_EQ(run.Process->ExitCode(), std::optional<std::uint32_t>(0));
    return box->Text;
}

// Waits for the run to end; a box shown meanwhile is a failure (and is answered, so the run ends).
void ExpectExitWithoutBox(const TRun& run) {
    const bool ended = WaitUntil(
        [&] {
            if (const auto box = WaitForMessageBox(run.Process->ProcessId(), 0)) {
                ADD_FAILURE() << "unexpected message box: " << box->Text;
                PressOk(*box);
            }
            return !run.Process->IsRunning();
        },
        Patience);
    if (!ended) {
        ADD_FAILURE() << "tarrow did not end";
        return;
    }
    EXPECT_EQ(run.Process->ExitCode(), std::optional<std::uint32_t>(0));
}

class UsageTest : public testing::TestWithParam<const char*> {};

TEST_P(UsageTest, ShowsTheUsageText) {
    const TRun run = StartTarrow(GetParam());
    EXPECT_EQ(AnswerBox(run), ExpectedUsage("tarrow"));
}

INSTANTIATE_TEST_SUITE_P(Arguments, UsageTest,
                         testing::Values("", "5 cmd /k dir", "\"\"", "1 2 3 4", "   \"\"  \"\" "));

TEST(TarrowTest, UsageTextIs160CharactersWithAnEmptyName) {
    EXPECT_EQ(ExpectedUsage("").size() + 4, 160u);
}

// Its box loads no DLL from its folder: this Wine's message box loads uxtheme.dll by name (its
// ShellExecuteW of an executable loads none).
TEST(TarrowTest, RenamedCopyShowsItsOwnName) {
    TTempDir folder;
    const std::string copy = folder.File("later.run.exe");
    ASSERT_TRUE(CopyFileA(TarrowPath().c_str(), copy.c_str(), TRUE));
    const std::string planted = folder.File("uxtheme.dll");
    ASSERT_TRUE(
        CopyFileA((TestBinDirectory() + "\\planted\\dbghelp.dll").c_str(), planted.c_str(), TRUE));
    // Typed under another name still: the file's own name counts.
    const TRun run = StartTarrow("", copy, folder.Path());
    EXPECT_EQ(AnswerBox(run), ExpectedUsage("later.run"));
    EXPECT_FALSE(TTempDir::FileExists(planted + ".loaded"));
}

// tarrow, its program and their folder named in scripts no code page holds, and such parameters.
TEST(TarrowTest, StartsAndNamesEverythingInAnyScript) {
    TTempDir temp;
    const std::string folder = temp.MakeDir("Программы 日本");
    const std::string program = folder + "\\Жанна.exe";
    const std::string tarrow = folder + "\\Łukasz.exe";
    ASSERT_TRUE(CopyFileA(RecordArgsPath().c_str(), program.c_str(), TRUE));
    ASSERT_TRUE(CopyFileA(TarrowPath().c_str(), tarrow.c_str(), TRUE));
    const std::string record = folder + "\\record.txt";
    TScopedEnvironment recordFile("RECORD_ARGS_FILE", record);

    ExpectExitWithoutBox(StartTarrow("1 " + Quoted(program) + " \"Жанна ü 日本\"", tarrow, folder));
    const auto starts = WaitForRecordedStarts(record, 1, Patience);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].Parameters(), "Жанна ü 日本");
    EXPECT_EQ(AnswerBox(StartTarrow("", tarrow, folder)), ExpectedUsage("Łukasz"));
}

class BadDelayTest : public testing::TestWithParam<const char*> {};

TEST_P(BadDelayTest, ShowsItsMessageAtOnceAndStartsNothing) {
    TTempDir folder;
    const std::string record = folder.File("record.txt");
    TScopedEnvironment recordFile("RECORD_ARGS_FILE", record);

    const TRun run = StartTarrow(std::string(GetParam()) + " " + Quoted(RecordArgsPath()) + " x");
    const auto box = WaitForMessageBox(run.Process->ProcessId(), Patience);
    ASSERT_TRUE(box.has_value());
    // Nothing slept: a misread delay of 7 s or more (7 and a blank, 2147483648, $80000000, 1e3)
    // would come up far later. Process start-up under Wine takes a few hundred ms.
    EXPECT_LT(run.Elapsed(), 5000u);
    EXPECT_EQ(box->Caption, Caption);
    EXPECT_EQ(box->Text, BadDelay);
    PressOk(*box);
    ASSERT_TRUE(run.Process->WaitForExit(Patience));
    EXPECT_EQ(run.Process->ExitCode(), std::optional<std::uint32_t>(0));
    EXPECT_FALSE(TTempDir::FileExists(record));
}

INSTANTIATE_TEST_SUITE_P(FirstArguments, BadDelayTest,
                         testing::Values("0", "-3", "abc", "1.5", "\"7 \"", "+", "$", "2147483648",
                                         "$80000000", "x", "0x", "+0x10", "1e3"));

// Delays of one second in every accepted spelling: the run ends by itself after the delay, shows
// nothing and gives 0.
class AcceptedDelayTest : public testing::TestWithParam<const char*> {};

TEST_P(AcceptedDelayTest, SleepsOneSecondAndEnds) {
    const TRun run = StartTarrow(GetParam());
    ExpectExitWithoutBox(run);
    EXPECT_GE(run.Elapsed(), 1000u);
}

INSTANTIATE_TEST_SUITE_P(FirstArguments, AcceptedDelayTest,
                         testing::Values("1", "+1", "01", "$1", "x1", "X1", "0x1", "0X1", "\" 1\"",
                                         "1 \"\""));

TEST(TarrowTest, StartsTheProgramAfterTheDelayWithoutWaitingForIt) {
    TTempDir folder;
    const std::string record = folder.File("record.txt");
    const std::string holdName = "TarrowTestHold" + std::to_string(GetCurrentProcessId());
    const THandle hold(CreateEventA(nullptr, TRUE, FALSE, holdName.c_str()));
    ASSERT_TRUE(hold);
    TScopedEnvironment recordFile("RECORD_ARGS_FILE", record);
    TScopedEnvironment recordHold("RECORD_ARGS_HOLD", holdName);

    const TRun run = StartTarrow("1 " + Quoted(RecordArgsPath()) + " \"a b c\"");
    // RecordArgs.exe holds until the event is set: tarrow can end first only if it did not wait.
    ExpectExitWithoutBox(run);
    const auto starts = WaitForRecordedStarts(record, 1, Patience);
    SetEvent(hold.Get());

    ASSERT_EQ(starts.size(), 1u);
    EXPECT_GE(starts[0].Ticks, run.Started + 1000);
    EXPECT_EQ(starts[0].Parameters(), "a b c");
}

TEST(TarrowTest, LonePairInPlaceOfAnArgumentIsNoArgument) {
    TTempDir folder;
    const std::string record = folder.File("record.txt");
    TScopedEnvironment recordFile("RECORD_ARGS_FILE", record);

    const TRun run = StartTarrow("1 \"\" " + Quoted(RecordArgsPath()));
    ExpectExitWithoutBox(run);
    const auto starts = WaitForRecordedStarts(record, 1, Patience);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_GE(starts[0].Ticks, run.Started + 1000);
    EXPECT_EQ(starts[0].Parameters(), "");
}

TEST(TarrowTest, ProgramThatCannotStartIsReportedAfterTheFullDelay) {
    TTempDir folder;
    const TRun run = StartTarrow("1 " + Quoted(folder.File("missing.exe")));
    const auto box = WaitForMessageBox(run.Process->ProcessId(), Patience);
    ASSERT_TRUE(box.has_value());
    EXPECT_GE(run.Elapsed(), 1000u);
    EXPECT_EQ(box->Caption, Caption);
    EXPECT_EQ(box->Text, OSErrorMessage(ERROR_FILE_NOT_FOUND));
    PressOk(*box);
    ASSERT_TRUE(run.Process->WaitForExit(Patience));
    EXPECT_EQ(run.Process->ExitCode(), std::optional<std::uint32_t>(0));
}

// How far past the delay a run ends: process start-up and shut-down under Wine included. The
// figures go to the test's output.
TEST(TarrowTest, DelayOvershoot) {
    for (const std::uint32_t seconds : {1u, 3u}) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const TRun run = StartTarrow(std::to_string(seconds));
            ExpectExitWithoutBox(run);
            const std::uint64_t elapsed = run.Elapsed();
            EXPECT_GE(elapsed, seconds * 1000u);
            EXPECT_LT(elapsed, seconds * 1000u + Patience);
            std::cout << "delay " << seconds << " s: ended after " << elapsed << " ms, overshoot "
                      << static_cast<std::int64_t>(elapsed) - seconds * 1000 << " ms\n";
        }
    }
}

} // namespace
