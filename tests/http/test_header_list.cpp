#include <gtest/gtest.h>

#include "http/header_list.h"

TEST(HeaderList, LookUpIgnoresCaseTrimsAndJoinsContinuationLines) {
    TIdHeaderList list;
    list.AddLine("Content-Type:text/html");
    list.AddLine("X-Long:  first part  ");
    list.AddLine("  second part");
    list.AddLine("\tthird");
    list.AddLine("x-long: another");
    list.AddLine("X-Longer: not the same name");
    list.AddLine("X-Obsolete-Fold:");
    list.AddLine("   starts below");

    EXPECT_EQ(list.Value("content-type"), "text/html");
    EXPECT_EQ(list.Value("X-LONG"), "first part second part third");
    EXPECT_EQ(list.Value("X-Lon"), "");
    EXPECT_EQ(list.IndexOfName("x-longer"), 5);
    EXPECT_EQ(list.Value("X-Obsolete-Fold"), "starts below");
    EXPECT_FALSE(list.Contains("Missing"));
    EXPECT_EQ(list.Extract("X-Long"), (std::vector<std::string>{"first part second part third", "another"}));
}

TEST(HeaderList, SettingReplacesInPlaceAppendsOrRemoves) {
    TIdHeaderList list;
    list.Add("Host", "a");
    list.AddLine("Folded: one");
    list.AddLine(" two");
    list.Add("Accept", "*/*");

    list.SetValue("folded", "new");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Host: a", "folded: new", "Accept: */*"}));
    list.SetValue("User-Agent", "agent");
    EXPECT_EQ(list.Lines().back(), "User-Agent: agent");
    list.SetValue("HOST", "");
    list.SetValue("Not-There", "");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"folded: new", "Accept: */*", "User-Agent: agent"}));

    list.AddLine("Two: x");
    list.AddLine(" y");
    list.SetValue("Two", "");
    EXPECT_EQ(list.Count(), 3) << "the continuation line goes with its header";
}

TEST(HeaderList, LongLinesAreFoldedAtBlanksOnOutput) {
    const std::string word(300, 'w');
    std::string value;
    for (int i = 0; i < 8; ++i) value += (i ? " " : "") + word;  // 2407 characters of value
    TIdHeaderList list;
    list.Add("X-Big", value);
    list.Add("X-Unbreakable", std::string(2000, 'u'));

    const auto lines = list.FoldedLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_LE(lines[0].size(), TIdHeaderList::FoldLength);
    EXPECT_EQ(lines[1][0], ' ');
    EXPECT_LE(lines[1].size(), TIdHeaderList::FoldLength);
    EXPECT_EQ(lines[3], "X-Unbreakable: " + std::string(2000, 'u'));

    TIdHeaderList reread;
    for (const auto& line : lines) reread.AddLine(line);
    EXPECT_EQ(reread.Value("X-Big"), value) << "folding must not lose or change the value";
}
