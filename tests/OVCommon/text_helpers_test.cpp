#include <gtest/gtest.h>

#include "OVCommon/OVCommon.h"

namespace {

TEST(AddBackslash, AddsOneSeparatorUnlessOneIsThere) {
    EXPECT_EQ(AddBackslash(""), "");
    EXPECT_EQ(AddBackslash("/opt/br"), "/opt/br/");
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

}  // namespace
