// The guard of the kill, the dump and the look-up: only Tamrix of this logon session is touched.
#include "ProcessGuard.h"

#include "Errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct VerdictCase {
    const char* name;
    bool queried;      // the system told the image path
    const char* image; // the path, when queried
    bool ownSession;
    std::uint32_t code; // the error, when not queried
    bool isApplication;
    std::string refusal;
};

class ImageVerdictTest : public testing::TestWithParam<VerdictCase> {};

TEST_P(ImageVerdictTest, TouchesOnlyTamrixOfThisSession) {
    const VerdictCase& c = GetParam();
    const TImageVerdict verdict = c.queried
                                      ? ImageVerdict(42, c.image, c.ownSession, SameSystemFileName)
                                      : ImageQueryFailed(c.code);
    EXPECT_EQ(verdict.IsApplication, c.isApplication);
    EXPECT_EQ(verdict.Refusal, c.refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImageVerdictTest,
    testing::Values(
        VerdictCase{"Tamrix", true, "C:\\Apps\\Tamrix\\Tamrix.exe", true, 0, true, ""},
        VerdictCase{"OtherCaseElsewhere", true, "D:\\x\\tAMRIX.EXE", true, 0, true, ""},
        VerdictCase{"AnotherProgram", true, "C:\\Windows\\notepad.exe", true, 0, false,
                    "process 42 is notepad.exe, not Tamrix.exe"},
        VerdictCase{"ANameLikeTamrix", true, "C:\\Tamrix.exe.bak", true, 0, false,
                    "process 42 is Tamrix.exe.bak, not Tamrix.exe"},
        // Another user's Tamrix, through the shared settings file of a machine-wide install.
        VerdictCase{"TamrixOfAnotherSession", true, "C:\\Apps\\Tamrix\\Tamrix.exe", false, 0, false,
                    "process 42 runs in another logon session"},
        VerdictCase{"QueryRefused", false, "", true, 5, false, SysErrorMessage(5)},
        // A code the system has no text for must not read as "nothing against it".
        VerdictCase{"QueryFailedWithoutText", false, "", true, 0x2FFFFFFF, false,
                    "system error 805306367"}),
    [](const testing::TestParamInfo<VerdictCase>& info) { return std::string(info.param.name); });

// This session is 1. Catches a stand-in for a foreign program, a gone process or a refused Tamrix of
// this session; one taken from another session, by file name alone, or from several; and a search
// that never answers a shared settings file.
TEST(ChooseStandInTest, OnlyForAnotherSessionsTamrixAndOnlyOneOfThisSession) {
    const std::string app = "C:\\Apps\\Tamrix\\Tamrix.exe";
    const TSessionProcess otherTamrix{7, 2, "Tamrix.exe", ""}, ownProgram{8, 1, "notepad.exe", ""},
        ownTamrix{9, 1, "TAMRIX.exe", "c:\\apps\\tamrix\\TAMRIX.EXE"},
        secondTamrix{10, 1, "Tamrix.exe", app}, elsewhere{11, 1, "Tamrix.exe", "D:\\Tamrix.exe"},
        unopened{12, 1, "Tamrix.exe", ""}, thirdSession{13, 3, "Tamrix.exe", app},
        otherProgram{14, 2, "notepad.exe", ""};
    const struct {
        std::uint32_t recorded;
        std::vector<TSessionProcess> processes;
        TStandIn expected;
    } table[] = {
        {7, {otherTamrix, ownTamrix, ownProgram}, {9, ""}},
        {7, {otherTamrix, ownTamrix, elsewhere, unopened, thirdSession}, {9, ""}},
        {7, {otherTamrix, elsewhere, unopened, thirdSession}, {0, "R"}},
        {7,
         {otherTamrix, ownTamrix, secondTamrix},
         {0, "R; 2 processes of this session are Tamrix.exe, none chosen"}},
        {14, {otherProgram, ownTamrix}, {0, "R"}},
        {8, {ownProgram, ownTamrix}, {0, "R"}},
        {10, {secondTamrix, ownTamrix}, {0, "R"}},
        {99, {otherTamrix, ownTamrix}, {0, "R"}},
    };
    for (const auto& row : table) {
        const TStandIn got =
            ChooseStandIn(row.recorded, "R", 1, app, row.processes, SameSystemFileName);
        EXPECT_EQ(got.ProcessId, row.expected.ProcessId) << &row - table;
        EXPECT_EQ(got.Refusal, row.expected.Refusal) << &row - table;
    }
}

} // namespace
