#include "IntText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>

namespace {

template <typename T> struct IntCase {
    std::string text;
    std::optional<T> expected;
};

template <typename T> std::ostream& operator<<(std::ostream& out, const IntCase<T>& c) {
    out << '"' << (c.text.size() > 40 ? c.text.substr(0, 40) + "..." : c.text) << "\" -> ";
    if (c.expected)
        return out << *c.expected;
    return out << "nothing";
}

using Case32 = IntCase<std::int32_t>;
using Case64 = IntCase<std::int64_t>;
constexpr std::nullopt_t None = std::nullopt;
constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t Min64v = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t Max64v = std::numeric_limits<std::int64_t>::max();

// Texts that neither rule reads: bytes from 128 up are neither digits nor blanks, tabs are no
// blanks, and nothing may follow the digits.
const Case32 CommonRefusals[] = {
    {"", None},
    {"   ", None},
    {"abc", None},
    {"90s", None},
    {" 7 ", None},
    {"7 ", None},
    {"1.5", None},
    {"+", None},
    {"-", None},
    {"$", None},
    {"x", None},
    {"0x", None},
    {"0X", None},
    {"--5", None},
    {"+-5", None},
    {"- 5", None},
    {"\t7", None},
    {"7\t", None},
    {"\xA0"
     "7",
     None},
    {"7\xB2", None},
    {"\xB3", None},
    {"$3G", None},
    {"0x-5", None},
    {"00x10", None},
    {"5-", None},
    {"1e3", None},
    {std::string("7\0", 2), None},
};

class SettingsRuleTest : public testing::TestWithParam<Case32> {};

TEST_P(SettingsRuleTest, ReadsOrRefuses) {
    EXPECT_EQ(TryStrToInt32(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, SettingsRuleTest,
                         testing::Values(Case32{"0", 0}, Case32{"100000", 100000}, Case32{"-5", -5},
                                         Case32{"0x3C", 60}, Case32{"$3c", 60}, Case32{"  60", 60},
                                         Case32{"x10", 16}, Case32{"X10", 16}, Case32{"0X10", 16},
                                         Case32{"$aBcD", 43981}, Case32{"+5", 5}, Case32{"007", 7},
                                         Case32{"2147483647", Max32}, Case32{"2147483648", None},
                                         Case32{"-2147483648", Min32}, Case32{"-2147483649", None},
                                         Case32{"99999999999", None}, Case32{"$FFFFFFFF", -1},
                                         Case32{"$80000000", Min32}, Case32{"$7FFFFFFF", Max32}));

// A sign may stand before the prefix; the sign then negates the 32 bits the digits give.
INSTANTIATE_TEST_SUITE_P(SignWithHex, SettingsRuleTest,
                         testing::Values(Case32{"-$10", -16}, Case32{"+$10", 16},
                                         Case32{"-0x10", -16}, Case32{"+0X10", 16},
                                         Case32{"-x1", -1}, Case32{"  -$A", -10},
                                         Case32{"-$FFFFFFFF", 1}, Case32{"-$80000000", Min32},
                                         Case32{"-$", None}, Case32{"+0x", None}));

// Leading zeros are not significant: any number of them, then at most 8 digits.
INSTANTIATE_TEST_SUITE_P(SignificantHexDigits, SettingsRuleTest,
                         testing::Values(Case32{"$12345678", 0x12345678},
                                         Case32{"$123456789", None}, Case32{"$000000001", 1},
                                         Case32{"$00000000FFFFFFFF", -1},
                                         Case32{"0x0000000100000000", None}, Case32{"$00000000", 0},
                                         Case32{"$" + std::string(3000, '0') + "3c", 60}));

// Texts as long as a value the settings file can hold (2047 characters) and longer.
INSTANTIATE_TEST_SUITE_P(LongTexts, SettingsRuleTest,
                         testing::Values(Case32{std::string(3000, '0') + "60", 60},
                                         Case32{std::string(2047, '0'), 0},
                                         Case32{std::string(2047, '9'), None},
                                         Case32{"1" + std::string(2046, '0'), None},
                                         Case32{std::string(2045, ' ') + "60", 60}));

INSTANTIATE_TEST_SUITE_P(Refusals, SettingsRuleTest, testing::ValuesIn(CommonRefusals));

class Int64RuleTest : public testing::TestWithParam<Case64> {};

TEST_P(Int64RuleTest, ReadsOrRefuses) {
    EXPECT_EQ(TryStrToInt64(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Range, Int64RuleTest,
    testing::Values(Case64{"0", 0}, Case64{"4242", 4242}, Case64{"-1", -1},
                    Case64{"4294967295", 4294967295}, Case64{"4294967296", 4294967296},
                    Case64{"9223372036854775807", Max64v}, Case64{"9223372036854775808", None},
                    Case64{"-9223372036854775808", Min64v}, Case64{"-9223372036854775809", None},
                    Case64{"18446744073709551615", None}, Case64{"  +12", 12},
                    Case64{"$FFFFFFFF", 4294967295}, Case64{"-$FFFFFFFF", -4294967295},
                    Case64{"$FFFFFFFFFFFFFFFF", -1}, Case64{"$8000000000000000", Min64v},
                    Case64{"$10000000000000000", None}, Case64{"$0FFFFFFFFFFFFFFFF", -1},
                    Case64{"0x" + std::string(100, '0') + "1", 1}, Case64{"abc", None},
                    Case64{"", None}, Case64{"12 ", None}, Case64{"\xB9", None}));

class DelayRuleTest : public testing::TestWithParam<Case32> {};

TEST_P(DelayRuleTest, ReadsOrRefuses) {
    EXPECT_EQ(TryStrToDelay(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, DelayRuleTest,
                         testing::Values(Case32{"5", 5}, Case32{"0", 0}, Case32{"-3", -3},
                                         Case32{"+5", 5}, Case32{"007", 7}, Case32{" 7", 7},
                                         Case32{"$A", 10}, Case32{"x10", 16}, Case32{"X10", 16},
                                         Case32{"0x10", 16}, Case32{"0X10", 16},
                                         Case32{"4294967", 4294967}, Case32{"2147483647", Max32},
                                         Case32{"2147483648", None}, Case32{"-2147483648", Min32},
                                         Case32{"$80000000", Min32}, Case32{"$FFFFFFFF", -1},
                                         Case32{"$000000000A", 10}, Case32{"$100000000", None}));

// Unlike the settings rule, no sign may stand before a hex prefix.
INSTANTIATE_TEST_SUITE_P(NoSignWithHex, DelayRuleTest,
                         testing::Values(Case32{"-$1", None}, Case32{"+$1", None},
                                         Case32{"-0x10", None}, Case32{"+x10", None}));

INSTANTIATE_TEST_SUITE_P(Refusals, DelayRuleTest, testing::ValuesIn(CommonRefusals));

// No byte from 128 up is a digit or a blank to either rule, wherever it stands.
TEST(IntTextHighBytesTest, NeverDigitsNorBlanks) {
    for (int b = 128; b <= 255; ++b) {
        const char c = static_cast<char>(b);
        for (const std::string& text :
             {std::string(1, c), std::string(1, c) + "5", "5" + std::string(1, c),
              "$" + std::string(1, c), "1" + std::string(1, c) + "2"}) {
            EXPECT_EQ(TryStrToInt32(text), std::nullopt) << "byte " << b;
            EXPECT_EQ(TryStrToInt64(text), std::nullopt) << "byte " << b;
            EXPECT_EQ(TryStrToDelay(text), std::nullopt) << "byte " << b;
        }
    }
}

} // namespace
