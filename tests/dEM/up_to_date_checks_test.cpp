// The client's checks answered by two threads must give what one thread checking in order gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "dEM/up_to_date_checks.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

// Entries of every kind of answer, many enough for the helper to start: current files, changed ones, missing
// ones, and removals of present and absent files.
std::vector<TUpdateElementRec> MixedEntries(const TempDir& folder) {
    std::vector<TUpdateElementRec> entries;
    for (int i = 0; i < 300; ++i) {
        TUpdateElementRec entry;
        entry.FileName = folder / ("f" + std::to_string(i));
        const std::string content = "content " + std::to_string(i);
        entry.Size = static_cast<int32_t>(content.size());
        entry.Crc = static_cast<int32_t>(CrcUpdate(0, content.data(), content.size()));
        switch (i % 5) {
            case 0: testsupport::WriteFile(entry.FileName, content); break;
            case 1: testsupport::WriteFile(entry.FileName, "changed " + std::to_string(i)); break;
            case 2: break;
            case 3: entry.Size = 0; testsupport::WriteFile(entry.FileName, content); break;
            case 4: entry.Size = 0; break;
        }
        entries.push_back(entry);
    }
    return entries;
}

TEST(UpToDateChecks, AnswersAsASingleThreadWouldAndSeeChangesMadeAfterAbandon) {
    TempDir folder;
    const std::vector<TUpdateElementRec> entries = MixedEntries(folder);
    std::vector<bool> expected;
    for (const TUpdateElementRec& entry : entries) expected.push_back(NeedsUpdate(entry));

    TUpToDateChecks checks(entries);
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(checks.NeedsUpdate(i), expected[i]) << i;

    // Once abandoned, an answer is found afresh: a file changed meanwhile is seen as changed.
    TUpToDateChecks later(entries);
    EXPECT_EQ(later.NeedsUpdate(0), expected[0]);
    later.Abandon();
    testsupport::WriteFile(entries.back().FileName, "changed after the helper may have looked");
    EXPECT_TRUE(later.NeedsUpdate(entries.size() - 1));
}

}  // namespace
