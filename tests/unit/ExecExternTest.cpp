#include "ExecExtern.h"

#include "Errors.h"
#include "support/Processes.h"
#include "support/TempDir.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using TLaunch = std::function<std::uint32_t(const std::string&)>;

struct LaunchForm {
    const char* name;
    TLaunch launch;
    // What RecordArgs.exe finds after its own name.
    const char* expectedParameters;
};

void PrintTo(const LaunchForm& form, std::ostream* os) {
    *os << form.name;
}

class LaunchProgramTest : public testing::TestWithParam<LaunchForm> {};

TEST_P(LaunchProgramTest, MissingFileRaisesTheLastErrorAfterTheShellCall) {
    TTempDir folder;
    const std::string missing = folder.File("no such program.exe");
    // A code left over from before the call must not be what is reported.
    SetLastError(ERROR_ACCESS_DENIED);
    try {
        GetParam().launch(missing);
        FAIL() << "no error raised";
    } catch (const EOSError& error) {
        EXPECT_EQ(error.ErrorCode(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(error.Message(), OSErrorMessage(ERROR_FILE_NOT_FOUND));
        EXPECT_NE(error.Message().find(SysErrorMessage(ERROR_FILE_NOT_FOUND)), std::string::npos);
    }
}

TEST_P(LaunchProgramTest, StartsTheProgramWithItsParametersWithoutWaiting) {
    TTempDir folder;
    const std::string record = folder.File("record.txt");
    TScopedEnvironment recordFile("RECORD_ARGS_FILE", record);
    const std::string program = TestBinDirectory() + "\\RecordArgs.exe";

    EXPECT_GT(GetParam().launch(program), 32u);

    const auto starts = WaitForRecordedStarts(record, 1, 20000);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].Parameters(), GetParam().expectedParameters);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LaunchProgramTest,
    testing::Values(LaunchForm{"Full",
                               [](const std::string& file) {
                                   return LaunchProgram(file, "one \"two three\"", nullptr,
                                                        SW_SHOWNORMAL);
                               },
                               "one \"two three\""},
                    LaunchForm{"FullWithDirectory",
                               [](const std::string& file) {
                                   return LaunchProgram(file, nullptr, "C:\\", SW_SHOW);
                               },
                               ""},
                    LaunchForm{"Process",
                               [](const std::string& file) {
                                   const TComApartment apartment;
                                   const THandle process = LaunchProcess(file, SW_SHOW);
                                   // The handle is the process started: it ends with it.
                                   EXPECT_EQ(WaitForSingleObject(process.Get(), 20000),
                                             WAIT_OBJECT_0);
                                   return process ? 33u : 0u;
                               },
                               ""},
                    LaunchForm{"Text",
                               [](const std::string& file) {
                                   return LaunchProgram(file, std::string("a b c"), SW_SHOWNORMAL);
                               },
                               "a b c"},
                    LaunchForm{"EmptyText",
                               [](const std::string& file) {
                                   return LaunchProgram(file, std::string(), SW_SHOWNORMAL);
                               },
                               ""}),
    [](const testing::TestParamInfo<LaunchForm>& info) { return std::string(info.param.name); });

} // namespace
