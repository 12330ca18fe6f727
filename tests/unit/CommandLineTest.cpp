#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The arguments after the tool's own name, as ParamStr gives them up to ParamCount.
std::vector<std::string> Arguments(const TCommandLine& commandLine) {
    std::vector<std::string> result;
    for (int i = 1; i <= commandLine.ParamCount(); ++i)
        result.push_back(commandLine.ParamStr(i));
    return result;
}

struct SplitCase {
    const char* name;
    std::string commandLine;
    std::vector<std::string> expected; // after the tool's own name
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

class SplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, SingleByteSplitting) {
    const TCommandLine commandLine(GetParam().commandLine);
    EXPECT_EQ(Arguments(commandLine), GetParam().expected);
}

using V = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    Table, SplitTest,
    testing::Values(SplitCase{"Nothing", "tarrow", V{}},
                    SplitCase{"QuotedOwnName", "\"C:\\Program Files\\tarrow.exe\" 5", V{"5"}},
                    SplitCase{"UsageExample", "tarrow 5 cmd \"/k dir C:\\ /a\"",
                              V{"5", "cmd", "/k dir C:\\ /a"}},
                    SplitCase{"FourArguments", "tarrow 5 cmd /k dir", V{"5", "cmd", "/k", "dir"}},
                    SplitCase{"GluedStretches", "t a\"b c\"d", V{"ab cd"}},
                    SplitCase{"LonePairOnly", "tarrow \"\"", V{}},
                    SplitCase{"LonePairBetween", "tarrow 5 \"\" notepad", V{"5", "notepad"}},
                    SplitCase{"PairsAfterPairs", "t \"\"\"\" \"\"x", V{"x"}},
                    SplitCase{"PairInsideArgument", "t a\"\"b", V{"ab"}},
                    SplitCase{"QuotedBlank", "t \" \" x", V{" ", "x"}},
                    SplitCase{"QuotedSevenAndBlank", "t \"7 \"", V{"7 "}},
                    SplitCase{"UnclosedQuoteRunsToEnd", "t \"a b", V{"a b"}},
                    // A lone quote at the end makes an empty argument, which ends the count.
                    SplitCase{"TrailingLoneQuote", "t a \"", V{"a"}},
                    SplitCase{"BackslashIsText", "t a\\\"b c\"", V{"a\\b c"}},
                    SplitCase{"TabsAndControls",
                              "t\ta\x01\x1f"
                              "b\r\nc ",
                              V{"a", "b", "c"}},
                    SplitCase{"HighBytesAreText", "t \xa0x\xff \x80", V{"\xa0x\xff", "\x80"}},
                    SplitCase{"LeadingSeparators", " \t t  1", V{"1"}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(CommandLineTest, OwnNameIsParamZero) {
    const TCommandLine commandLine("\"C:\\x\\tar row.exe\" 1");
    EXPECT_EQ(commandLine.ParamStr(0), "C:\\x\\tar row.exe");
}

TEST(CommandLineTest, ArgumentBeyondTheCountIsEmpty) {
    const TCommandLine commandLine("t 5 notepad");
    ASSERT_EQ(commandLine.ParamCount(), 2);
    EXPECT_EQ(commandLine.ParamStr(3), "");
    EXPECT_EQ(commandLine.ParamStr(100), "");
    EXPECT_EQ(commandLine.ParamStr(-1), "");
}

TEST(CommandLineTest, EmptyTextHasNoArguments) {
    const TCommandLine commandLine("");
    EXPECT_EQ(commandLine.ParamCount(), 0);
    EXPECT_EQ(commandLine.ParamStr(0), "");
    EXPECT_EQ(commandLine.ParamStr(1), "");
}

// A double-byte code page as Shift-JIS has it: 0x81..0x9F and 0xE0..0xFC lead a two-byte
// character whose trail byte may be any byte from 0x40 up, or even a quote or a blank here, to
// show that the trail is never looked at.
const char* DoubleByteStep(const char* p) {
    const auto lead = static_cast<unsigned char>(*p);
    if (lead == 0)
        return p;
    const bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
    return isLead && p[1] != '\0' ? p + 2 : p + 1;
}

struct MultiByteCase {
    const char* name;
    std::string commandLine;
    std::vector<std::string> expected;
};

void PrintTo(const MultiByteCase& c, std::ostream* os) {
    *os << c.name;
}

class MultiByteTest : public testing::TestWithParam<MultiByteCase> {};

TEST_P(MultiByteTest, TrailBytesAreNeverSeparatorsOrQuotes) {
    const TCommandLine commandLine(GetParam().commandLine, DoubleByteStep);
    EXPECT_EQ(Arguments(commandLine), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MultiByteTest,
    testing::Values(
        MultiByteCase{"TrailQuote", "t \x81\" x", V{"\x81\"", "x"}},
        MultiByteCase{"TrailBlank", "t \x81 x y", V{"\x81 x", "y"}},
        MultiByteCase{"TrailQuoteInsideQuotes", "t \"a\x81\" b\" c", V{"a\x81\" b", "c"}},
        MultiByteCase{"LeadAtEnd", "t 1 \x81", V{"1", "\x81"}},
        MultiByteCase{"OrdinaryCharacters", "t \x82\xa0\x82\xa2 5", V{"\x82\xa0\x82\xa2", "5"}}),
    [](const testing::TestParamInfo<MultiByteCase>& info) { return std::string(info.param.name); });

// The same texts stepped byte by byte: here the trail bytes do count, which shows that the cases
// above depend on the step function.
TEST(CommandLineTest, ByteStepTreatsTrailBytesAsCharacters) {
    EXPECT_EQ(Arguments(TCommandLine("t \x81\" x")), V{"\x81 x"});
    EXPECT_EQ(Arguments(TCommandLine("t \x81 x y")), (V{"\x81", "x", "y"}));
}

} // namespace
