#include "Errors.h"
#include "WinApi.h"

#include <gtest/gtest.h>

namespace {

struct TrimCase {
    const char* input;
    const char* expected;
};

class TrimSystemTextTest : public testing::TestWithParam<TrimCase> {};

TEST_P(TrimSystemTextTest, RemovesTrailingControlsBlanksAndFullStops) {
    EXPECT_EQ(TrimSystemText(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, TrimSystemTextTest,
                         testing::Values(TrimCase{"File not found.\r\n", "File not found"},
                                         TrimCase{"Done. . .\t ", "Done"}, TrimCase{"...", ""},
                                         TrimCase{"", ""}, TrimCase{"v1.2 ok", "v1.2 ok"},
                                         TrimCase{"a.\x01\x1f.", "a"},
                                         // Bytes of 128 and above are text, never trimmed.
                                         TrimCase{"caf\xe9", "caf\xe9"}));

TEST(OSErrorMessageTest, CodeZeroHasItsOwnText) {
    EXPECT_EQ(OSErrorMessage(0), "A call to an OS function failed");
}

TEST(OSErrorMessageTest, NonZeroCodeCarriesCodeAndSystemText) {
    EXPECT_EQ(OSErrorMessage(ERROR_FILE_NOT_FOUND),
              "System Error.  Code: 2.\r\n" + SysErrorMessage(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SysErrorMessage(ERROR_FILE_NOT_FOUND).empty());
}

TEST(SysErrorMessageTest, UnknownCodeGivesEmptyText) {
    EXPECT_EQ(SysErrorMessage(0x2FFFFFFF), "");
}

TEST(RaiseLastOSErrorTest, CarriesTheLastErrorSetBeforeIt) {
    SetLastError(ERROR_ACCESS_DENIED);
    try {
        RaiseLastOSError();
        FAIL() << "no error raised";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(e.Message(), OSErrorMessage(ERROR_ACCESS_DENIED));
        EXPECT_STREQ(e.ClassName(), "EOSError");
        EXPECT_NE(e.Address(), nullptr);
    }
}

TEST(RaiseLastOSErrorTest, ZeroCodeGivesTheGenericMessage) {
    SetLastError(0);
    try {
        RaiseLastOSError();
        FAIL() << "no error raised";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), 0u);
        EXPECT_EQ(e.Message(), "A call to an OS function failed");
    }
}

TEST(ExceptionTest, EachClassNamesItself) {
    EXPECT_STREQ(Exception("m").ClassName(), "Exception");
    EXPECT_STREQ(EInOutError("m").ClassName(), "EInOutError");
    EXPECT_STREQ(EIniFileException("m").ClassName(), "EIniFileException");
    EXPECT_STREQ(EThread("m").ClassName(), "EThread");
    const Exception& base = EIniFileException("Unable to write to x");
    EXPECT_STREQ(base.ClassName(), "EIniFileException");
    EXPECT_EQ(base.Message(), "Unable to write to x");
}

} // namespace
