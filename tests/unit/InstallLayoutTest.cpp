// The kill step's image check: only Tamrix is ever terminated.
#include "InstallLayout.h"

#include "Errors.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct VerdictCase {
    const char* name;
    bool queried;       // the system told the image path
    const char* image;  // the path, when queried
    std::uint32_t code; // the error, when not
    bool isApplication;
    std::string refusal;
};

class ImageVerdictTest : public testing::TestWithParam<VerdictCase> {};

TEST_P(ImageVerdictTest, KillsOnlyTamrix) {
    const VerdictCase& c = GetParam();
    const TImageVerdict verdict = c.queried ? ImageVerdict(42, c.image) : ImageQueryFailed(c.code);
    EXPECT_EQ(verdict.IsApplication, c.isApplication);
    EXPECT_EQ(verdict.Refusal, c.refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImageVerdictTest,
    testing::Values(VerdictCase{"Tamrix", true, "C:\\Apps\\Tamrix\\Tamrix.exe", 0, true, ""},
                    VerdictCase{"OtherCaseElsewhere", true, "D:\\x\\tAMRIX.EXE", 0, true, ""},
                    VerdictCase{"AnotherProgram", true, "C:\\Windows\\notepad.exe", 0, false,
                                "process 42 is notepad.exe, not Tamrix.exe"},
                    VerdictCase{"ANameLikeTamrix", true, "C:\\Tamrix.exe.bak", 0, false,
                                "process 42 is Tamrix.exe.bak, not Tamrix.exe"},
                    VerdictCase{"QueryRefused", false, "", 5, false, SysErrorMessage(5)},
                    // A code the system has no text for must not read as "nothing against it".
                    VerdictCase{"QueryFailedWithoutText", false, "", 0x2FFFFFFF, false,
                                "system error 805306367"}),
    [](const testing::TestParamInfo<VerdictCase>& info) { return std::string(info.param.name); });

} // namespace
