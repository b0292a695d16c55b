// The shared catalogue as the client reads it: its lines joined again, each ended by CR LF, whatever breaks the
// file had.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "tests/support/temp_dir.h"

TEST(SharedCatalogue, LinesAreEndedByCrLfWhateverBreaksTheFileHas) {
    testsupport::TempDir share;
    const auto savedSettings = Settings;
    Settings.SharedFolder = share.path() + "/";
    Localizer = std::make_unique<TFileLocalizer>(share.path() + "/OvLng");
    TdmEM module;
    const std::pair<std::string, std::string> cases[] = {
        {"<xml>\r\n<a/>\r\n</xml>\r\n", "<xml>\r\n<a/>\r\n</xml>\r\n"},
        {"<xml>\r\n\r\n</xml>", "<xml>\r\n\r\n</xml>\r\n"},
        {"<xml> <update/></xml>", "<xml> <update/></xml>\r\n"},
        {"<xml>\n<a/>\n</xml>\n", "<xml>\r\n<a/>\r\n</xml>\r\n"},
        {"<xml>\r<a/>\r\n</xml>", "<xml>\r\n<a/>\r\n</xml>\r\n"},
        {"<xml>\n\r<a/>\r\r\n", "<xml>\r\n\r\n<a/>\r\n\r\n"},
        {"</xml>\r", "</xml>\r\n"},
        {"\n<xml/>\r\n", "\r\n<xml/>\r\n"},
        {"<xml>\r\n\n</xml>\r\n", "<xml>\r\n\r\n</xml>\r\n"},
        {"<xml>\r\n\r</xml>\r\n", "<xml>\r\n\r\n</xml>\r\n"},
        {"", ""},
    };
    for (const auto& [content, expected] : cases) {
        testsupport::WriteFile(share / "latest.xml", content);
        std::string text = "left over";
        EXPECT_TRUE(module.LoadSharedCatalogue(text));
        EXPECT_EQ(text, expected) << content;
    }
    std::remove((share / "latest.xml").c_str());
    std::string text;
    EXPECT_FALSE(module.LoadSharedCatalogue(text));
    Settings = savedSettings;
}
