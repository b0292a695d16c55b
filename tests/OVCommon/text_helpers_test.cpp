#include <gtest/gtest.h>

#include "OVCommon/OVCommon.h"

namespace {

TEST(AddBackslash, AddsOneSeparatorUnlessOneIsThere) {
    // The separator added is the system's own.
#ifdef _WIN32
    const std::string separator = "\\";
#else
    const std::string separator = "/";
#endif
    EXPECT_EQ(AddBackslash(""), "");
    EXPECT_EQ(AddBackslash("/opt/br"), "/opt/br" + separator);
    EXPECT_EQ(AddBackslash("/opt/br/"), "/opt/br/");
    EXPECT_EQ(AddBackslash("Tools\\"), "Tools\\");
}

TEST(TrimChar, StripsRunsAtBothEnds) {
    EXPECT_EQ(TrimChar("", '"'), "");
    EXPECT_EQ(TrimChar("\"\"\"", '"'), "");
    EXPECT_EQ(TrimChar("\"a\"", '"'), "a");
    EXPECT_EQ(TrimChar("\"\"a \"b\"", '"'), "a \"b");
}

TEST(TextToInt, DecimalAndPrefixedHexadecimalWithinThirtyTwoBits) {
    const std::vector<std::pair<std::string, int32_t>> converted = {
        {"$FF", 255},         {"0xff", 255},          {"255", 255},           {"X1f", 31},
        {"  42", 42},         {"+7", 7},              {"-$10", -16},          {"$FFFFFFFF", -1},
        {"0X7fffffff", 2147483647}, {"-2147483648", INT32_MIN}, {"2147483647", 2147483647}, {"007", 7}};
    for (const auto& [text, value] : converted) EXPECT_EQ(TextToInt(text, -99), value) << text;

    const std::vector<std::string> rejected = {"",   "255 ", "3000000000", "2147483648", "-2147483649", "$",
                                               "0x", "$1FFFFFFFF", "12a", "-", "$G1", "99999999999999999999",
                                               " ", "1 2", "\t5", "\n5"};
    for (const auto& text : rejected) EXPECT_EQ(TextToInt(text, -99), -99) << text;
}

TEST(FormatText, FillsDirectivesInOrder) {
    EXPECT_EQ(FormatText("%d.%d KB", {int64_t{1023}, int64_t{9}}), "1023.9 KB");
    EXPECT_EQ(FormatText("%s to go, %d%%", {std::string("5 KB"), int64_t{-40}}), "5 KB to go, -40%");
    EXPECT_EQ(FormatText("100%% %S %D", {std::string("x"), int64_t{7}}), "100% x 7");
    EXPECT_EQ(FormatText("no directives", {std::string("unused")}), "no directives");
    EXPECT_EQ(FormatText("", {}), "");
}

TEST(FormatText, WidthAlignsAndPrecisionLimitsOrPads) {
    EXPECT_EQ(FormatText("[%5d]", {int64_t{42}}), "[   42]");
    EXPECT_EQ(FormatText("[%-5d]", {int64_t{42}}), "[42   ]");
    EXPECT_EQ(FormatText("[%1d]", {int64_t{12345}}), "[12345]");
    EXPECT_EQ(FormatText("[%6s|%-6s]", {std::string("ab"), std::string("cd")}), "[    ab|cd    ]");
    // A precision cuts a text and gives a number its least count of digits.
    EXPECT_EQ(FormatText("[%.2s]", {std::string("abcdef")}), "[ab]");
    EXPECT_EQ(FormatText("[%-5.3s]", {std::string("abcdef")}), "[abc  ]");
    EXPECT_EQ(FormatText("[%.3d]", {int64_t{5}}), "[005]");
    EXPECT_EQ(FormatText("[%6.3d]", {int64_t{-5}}), "[  -005]");
    EXPECT_EQ(FormatText("[%.2d]", {int64_t{1234}}), "[1234]");
}

TEST(FormatText, DirectiveWithoutAFittingArgumentRaises) {
    const std::vector<std::pair<std::string, std::vector<TFormatArg>>> invalid = {
        {"%d", {}},
        {"%s and %s", {std::string("one")}},
        {"%d", {std::string("text")}},
        {"%s", {int64_t{1}}},
        {"%x", {int64_t{1}}},
        {"ends with %", {int64_t{1}}},
        {"%5", {int64_t{1}}}};
    for (const auto& [format, arguments] : invalid)
        EXPECT_THROW(FormatText(format, arguments), EConvertError) << format;
}

}  // namespace
