#include "platform/version_resource.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/pe_builder.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr std::uint32_t kUsEnglishUnicode = 0x04B00409;  // language 0x0409, code page 1200

std::string GoodImage(bool wide = false) {
    return pe::Image(pe::Serialize(pe::VersionInfo(u"040904b0", u"5.1.2.34", {kUsEnglishUnicode})), wide);
}

TEST(VersionResource, ReadsTheFileVersionOfTheTranslationsTable) {
    EXPECT_EQ(platform::FileVersionFromImage(GoodImage()), "5.1.2.34");
    EXPECT_EQ(platform::FileVersionFromImage(GoodImage(true)), "5.1.2.34");
    const std::string spaced =
        pe::Image(pe::Serialize(pe::VersionInfo(u"040904B0", u"5, 1, 2, \u00fc\U0001F600", {kUsEnglishUnicode})));
    EXPECT_EQ(platform::FileVersionFromImage(spaced), "5, 1, 2, \xC3\xBC\xF0\x9F\x98\x80");  // as stored

    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "brellium.exe", GoodImage());
    EXPECT_EQ(platform::FileVersionString(dir / "brellium.exe"), "5.1.2.34");
    EXPECT_EQ(platform::FileVersionString(dir / "missing.exe"), "");
    EXPECT_EQ(platform::FileVersionString(dir.path()), "");
}

TEST(VersionResource, TableChoiceWhenTheTranslationDoesNotMatch) {
    // The translation names a table that is not there, or there is no translation: no version.
    EXPECT_EQ(platform::FileVersionFromImage(
                  pe::Image(pe::Serialize(pe::VersionInfo(u"041904e3", u"7.0", {kUsEnglishUnicode})))),
              "");
    EXPECT_EQ(platform::FileVersionFromImage(pe::Image(pe::Serialize(pe::VersionInfo(u"040904b0", u"7.1", {})))),
              "");
    // Only the first translation counts, even when a later one has the table.
    pe::Node info = pe::VersionInfo(u"040904b0", u"first", {0x04E30419, kUsEnglishUnicode});
    pe::Node russian = info.children[0].children[0];
    russian.key = u"041904e3";
    russian.children[1] = pe::TextNode(u"FileVersion", u"second");
    info.children[0].children.push_back(russian);
    EXPECT_EQ(platform::FileVersionFromImage(pe::Image(pe::Serialize(info))), "second");
    // A table without FileVersion gives nothing, even when another table has one.
    info.children[0].children[1].children.pop_back();
    EXPECT_EQ(platform::FileVersionFromImage(pe::Image(pe::Serialize(info))), "");
}

TEST(VersionResource, FilesThatAreNotPeImagesHaveNoVersion) {
    EXPECT_EQ(platform::FileVersionFromImage(""), "");
    EXPECT_EQ(platform::FileVersionFromImage("#!/bin/sh\necho hello\n"), "");
    EXPECT_EQ(platform::FileVersionFromImage("MZ"), "");
    std::string noResources = GoodImage();
    noResources[0x40 + 24 + 96 + 16] = 0;  // resource directory RVA 0
    noResources[0x40 + 24 + 96 + 17] = 0;
    EXPECT_EQ(platform::FileVersionFromImage(noResources), "");
}

TEST(VersionResource, DamagedImagesGiveEmptyNeverACrash) {
    const std::string good = GoodImage();
    const std::size_t versionEnd = good.size() - 3;  // the section is padded to 4 bytes
    for (std::size_t length = 0; length < versionEnd; ++length) {
        EXPECT_EQ(platform::FileVersionFromImage(good.substr(0, length)), "") << "cut at " << length;
    }
    std::string oversized = good;
    oversized[0x260] = '\xFF';  // the root block claims more bytes than the resource holds
    oversized[0x261] = '\xFF';
    EXPECT_EQ(platform::FileVersionFromImage(oversized), "");

    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = good;
        for (int flips = 0; flips < 4; ++flips) {
            damaged[random() % damaged.size()] = static_cast<char>(random());
        }
        platform::FileVersionFromImage(damaged);  // under the sanitizers: no read out of bounds
    }
}

}  // namespace
