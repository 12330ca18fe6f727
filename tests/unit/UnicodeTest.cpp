#include "Unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct CodecCase {
    const char* what;
    std::string utf8;
    std::wstring utf16;
};

// Text both ways: what the system gives comes back to it unchanged, lone surrogates included.
class UnicodeBothWaysTest : public testing::TestWithParam<CodecCase> {};

TEST_P(UnicodeBothWaysTest, ConvertsAndComesBack) {
    EXPECT_EQ(Utf8ToUtf16(GetParam().utf8), GetParam().utf16);
    EXPECT_EQ(Utf16ToUtf8(GetParam().utf16), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnicodeBothWaysTest,
    testing::Values(CodecCase{"empty", "", L""},
                    CodecCase{"ascii", "C:\\Tamrix\\korvel.ini", L"C:\\Tamrix\\korvel.ini"},
                    CodecCase{"two bytes", "\xC5\x81ukasz \xC3\xBC", L"\u0141ukasz \u00FC"},
                    CodecCase{"three bytes", "\xD0\x96 \xE6\x97\xA5\xE6\x9C\xAC",
                              L"\u0416 \u65E5\u672C"},
                    CodecCase{"a pair", "a\xF0\x9F\x98\x80z", L"a\xD83D\xDE00z"},
                    CodecCase{"the last code point", "\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
                    CodecCase{"lone high", "a\xED\xA0\x80z", L"a\xD800z"},
                    CodecCase{"lone high at the end", "a\xED\xAF\xBF", L"a\xDBFF"},
                    CodecCase{"lone low",
                              "\xED\xB0\x80"
                              "a",
                              L"\xDC00"
                              L"a"},
                    CodecCase{"low before high", "\xED\xB0\x80\xED\xA0\x80", L"\xDC00\xD800"},
                    CodecCase{"a NUL inside", std::string("a\0b", 3), std::wstring(L"a\0b", 3)}),
    [](const testing::TestParamInfo<CodecCase>& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (c == ' ')
                c = '_';
        return name;
    });

// Bytes that are no UTF-8: one U+FFFD for each byte that cannot be read, and nothing after it lost.
TEST(UnicodeTest, EveryUnreadableByteBecomesOneReplacementAndTheRestIsKept) {
    const struct {
        std::string utf8;
        std::wstring utf16;
    } cases[] = {
        {"\x80", L"\uFFFD"},
        {"a\xFFz", L"a\uFFFDz"},
        {"a\xC3", L"a\uFFFD"},
        {"\xC3z", L"\uFFFDz"},
        {"\xC0\xAF", L"\uFFFD\uFFFD"},
        {"\xE0\x80\xAF", L"\uFFFD\uFFFD\uFFFD"},
        {"\xE2\x82z", L"\uFFFD\uFFFDz"},
        {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xF5\xBF", L"\uFFFD\uFFFD"},
        {"\xF0\x9F\x98", L"\uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << testing::PrintToString(c.utf8);
}

} // namespace
