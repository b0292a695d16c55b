#include "localizer/localizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/stream.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

// A localizer over a text, without files.
class TextLocalizer : public TLocalizer {
public:
    void LoadLanguage() override {}
};

// A plain component tree that records its captions.
struct Component : TTranslatableComponent {
    Component(std::string name, TComponentKind kind, std::string caption = "")
        : name(std::move(name)), kind(kind), caption(std::move(caption)) {}

    std::string Name() const override { return name; }
    TComponentKind Kind() const override { return kind; }
    void SetCaption(const std::string& text) override { caption = text; }
    int ColumnCount() const override { return static_cast<int>(columns.size()); }
    void SetColumnCaption(int index, const std::string& text) override { columns[static_cast<size_t>(index)] = text; }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) override {
        for (auto& child : owned) visit(*child);
    }
    Component& Own(std::string childName, TComponentKind childKind, std::string childCaption = "") {
        owned.push_back(std::make_unique<Component>(std::move(childName), childKind, std::move(childCaption)));
        return *owned.back();
    }

    std::string name;
    TComponentKind kind;
    std::string caption;
    std::vector<std::string> columns;
    std::vector<std::unique_ptr<Component>> owned;
};

}  // namespace

TEST(Localizer, ReadsTheLanguageFileFormat) {
    TextLocalizer localizer;
    EXPECT_EQ(localizer.Lookup("anything"), "");
    localizer.LoadLanguageText(
        "Loose = before any section\r\n"
        "; a comment without an equals sign\r\n"
        "[Messages]\r\n"
        "MsgOV3 =  Hello there \r\n"
        "Title=a=b\n"
        "=x\n"
        "Key=\n"
        "\n"
        "[ Spaced ]\r"
        "Inner=kept apart\r"
        "x]y[\n"
        "Odd=in section xy\n"
        "; comment = read as an entry");
    EXPECT_EQ(localizer.Lookup("Loose"), "before any section");
    EXPECT_EQ(localizer.GetMessage("MsgOV3"), "Hello there");
    EXPECT_EQ(localizer.GetMessage("msgov3"), "Hello there");
    EXPECT_EQ(localizer.Lookup("MESSAGESMSGOV3"), "Hello there");
    EXPECT_EQ(localizer.GetMessage("Title"), "a=b");
    EXPECT_EQ(localizer.GetMessage(""), "");
    EXPECT_EQ(localizer.GetMessage("Key"), "");
    EXPECT_EQ(localizer.Lookup(" Spaced Inner"), "kept apart");
    EXPECT_EQ(localizer.Lookup("SpacedInner"), "");
    EXPECT_EQ(localizer.Lookup("xyOdd"), "in section xy");
    EXPECT_EQ(localizer.Lookup("xy; comment"), "read as an entry");

    localizer.LoadLanguageText("[Messages]\nMsgOV1=replaced\n");
    EXPECT_EQ(localizer.GetMessage("MsgOV1"), "replaced");
    EXPECT_EQ(localizer.GetMessage("MsgOV3"), "");
}

TEST(Localizer, LookupFindsEveryKeyOfALargeTable) {
    TextLocalizer localizer;
    std::string text = "[S]\n";
    for (int i = 0; i < 300; ++i) text += "Key" + std::to_string(i * 7919 % 300) + "=v" + std::to_string(i * 7919 % 300) + "\n";
    localizer.LoadLanguageText(text);
    for (int i = 0; i < 300; ++i) EXPECT_EQ(localizer.Lookup("skey" + std::to_string(i)), "v" + std::to_string(i));
    EXPECT_EQ(localizer.Lookup("SKey300"), "");
    EXPECT_EQ(localizer.Lookup("A"), "");
    EXPECT_EQ(localizer.Lookup("Z"), "");

    // A damaged file may hold control bytes in its names: they are part of the key like any other byte.
    using namespace std::string_literals;
    localizer.LoadLanguageText("[S]\nA\0x=one\nA\0y=two\nB=three\n"s);
    EXPECT_EQ(localizer.Lookup("sa\0Y"s), "two");
    EXPECT_EQ(localizer.Lookup("SA\0x"s), "one");
    EXPECT_EQ(localizer.Lookup("SA"), "");
}

TEST(Localizer, TranslatesTheFormAndItsDirectlyOwnedComponents) {
    TextLocalizer localizer;
    Component form("FormOrvane", TComponentKind::Form, "Orvane");
    Component& label = form.Own("LabelStatus", TComponentKind::Label, "Update Status");
    Component& button = form.Own("ButtonNext", TComponentKind::Button, "Next >");
    Component& panel = form.Own("Panel1", TComponentKind::Panel, "");
    Component& item = form.Own("MenuHelp", TComponentKind::MenuItem, "Help");
    Component& other = form.Own("ProgressBar", TComponentKind::Other, "unchanged");
    Component& dialog = form.Own("DialogAbout", TComponentKind::Form, "About");
    Component& missing = form.Own("ButtonHelp", TComponentKind::Button, "Help");
    Component& list = form.Own("ListViewItems", TComponentKind::ListView);
    list.columns = {"Product", "Status"};
    Component& wide = form.Own("ListWide", TComponentKind::ListView);
    wide.columns = {"1", "2", "3", "4"};
    Component& nested = label.Own("Inner", TComponentKind::Label, "nested");

    EXPECT_THROW(localizer.Translate(form), Exception);
    try {
        localizer.Translate(form);
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot load language file. Language is not specified.");
    }

    localizer.SetLanguage("Test");
    localizer.LoadLanguageText(
        "[FormOrvane]\nFormOrvane=Title\nlabelstatus=Status text\nButtonNext=Forward\nPanel1=Panel text\n"
        "MenuHelp=Menu text\nProgressBar=ignored\nDialogAbout=ignored as well\nListViewItems=Name,State,Extra\nListWide=A,,C\n"
        "Inner=not visited\n[LabelStatus]\nInner=not visited either\n");
    localizer.Translate(form);
    EXPECT_EQ(form.caption, "Title");
    EXPECT_EQ(label.caption, "Status text");
    EXPECT_EQ(button.caption, "Forward");
    EXPECT_EQ(panel.caption, "Panel text");
    EXPECT_EQ(item.caption, "Menu text");
    EXPECT_EQ(other.caption, "unchanged");
    // An owned form is no label, button, menu item or panel: only the translated window takes its own caption.
    EXPECT_EQ(dialog.caption, "About");
    EXPECT_EQ(missing.caption, "Help");
    EXPECT_EQ(list.columns, (std::vector<std::string>{"Name", "State"}));
    EXPECT_EQ(wide.columns, (std::vector<std::string>{"A", "", "C", "4"}));
    EXPECT_EQ(nested.caption, "nested");

    localizer.LoadLanguageText("[FormOrvane]\nListWide=Only, spaced ,\n");
    localizer.Translate(form);
    EXPECT_EQ(wide.columns, (std::vector<std::string>{"Only", " spaced ", "C", "4"}));
}

TEST(FileLocalizer, ChoosesTheDefaultLanguageAndKeepsItForUnlistedOnes) {
    TempDir dir;
    WriteFile(dir / "english.lng", "[Messages]\nMsgOV1=Hello\n");
    WriteFile(dir / "german.lng", "[Messages]\nMsgOV1=Hallo\n");
    WriteFile(dir / "notes.txt", "[Messages]\nMsgOV1=not a language\n");
    TFileLocalizer localizer(dir.path());
    std::vector<std::string> languages = localizer.Languages();
    std::sort(languages.begin(), languages.end());
    EXPECT_EQ(languages, (std::vector<std::string>{"english", "german"}));
    EXPECT_EQ(localizer.Language(), "english");
    EXPECT_EQ(localizer.GetMessage("MsgOV1"), "Hello");

    localizer.SetLanguage("French");
    EXPECT_EQ(localizer.Language(), "French");
    EXPECT_EQ(localizer.GetMessage("MsgOV1"), "Hello");
    localizer.SetLanguage("GERMAN");
    EXPECT_EQ(localizer.GetMessage("MsgOV1"), "Hallo");

    // A listed language that cannot be read fails and leaves the loaded table in force.
    ASSERT_TRUE(std::filesystem::create_directory(dir / "broken.lng"));
    localizer.ScanLanguages();
    EXPECT_THROW(localizer.SetLanguage("broken"), EFOpenError);
    EXPECT_EQ(localizer.GetMessage("MsgOV1"), "Hallo");

    // Without a trailing separator, and without English: the first listed language. A hidden ".lng" names no
    // language, so it can never become that first one and leave the program without texts.
    TempDir other;
    WriteFile(other / "Russian.lng", "[Messages]\nMsgOV1=Privet\n");
    WriteFile(other / ".lng", "[Messages]\nMsgOV1=nameless\n");
    TFileLocalizer first(other.path().substr(0, other.path().size() - 1));
    EXPECT_EQ(first.Languages(), std::vector<std::string>{"Russian"});
    EXPECT_EQ(first.Language(), "Russian");
    EXPECT_EQ(first.GetMessage("MsgOV1"), "Privet");
}

TEST(FileLocalizer, TheExtensionMatchesWithoutRegardToCaseAndTheListedFileIsRead) {
    TempDir dir;
    WriteFile(dir / "English.LNG", "[Messages]\nMsgOV1=Hello\n");
    WriteFile(dir / "German.Lng", "[Messages]\nMsgOV1=Hallo\n");
    WriteFile(dir / "notes.lngx", "[Messages]\nMsgOV1=not a language\n");
    WriteFile(dir / "lng", "[Messages]\nMsgOV1=not a language either\n");
    TFileLocalizer localizer(dir.path());
    std::vector<std::string> languages = localizer.Languages();
    std::sort(languages.begin(), languages.end());
    EXPECT_EQ(languages, (std::vector<std::string>{"English", "German"}));
    EXPECT_EQ(localizer.Language(), "english");
    EXPECT_EQ(localizer.GetMessage("MsgOV1"), "Hello");
    localizer.SetLanguage("GERMAN");
    EXPECT_EQ(localizer.GetMessage("MsgOV1"), "Hallo");
}

TEST(FileLocalizer, NoLanguageFilesMeansNoLanguage) {
    TempDir dir;
    for (const std::string& folder : {dir.path(), dir / "missing"}) {
        TFileLocalizer localizer(folder);
        EXPECT_TRUE(localizer.Languages().empty());
        EXPECT_EQ(localizer.Language(), "");
        EXPECT_EQ(localizer.GetMessage("MsgOV1"), "");
        Component form("FormOrvane", TComponentKind::Form, "Orvane");
        EXPECT_THROW(localizer.Translate(form), Exception);
    }
}

namespace {

// True when the text is well-formed UTF-8: the files are read as the system's 8-bit text, which is UTF-8 here.
bool IsUtf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || at + length > text.size()) return false;
        for (size_t next = at + 1; next < at + length; ++next) {
            if ((static_cast<unsigned char>(text[next]) & 0xC0) != 0x80) return false;
        }
        at += length;
    }
    return true;
}

}  // namespace

TEST(FileLocalizer, ShippedLanguageFilesHaveEveryTextWithItsArguments) {
    TFileLocalizer localizer(ORVANE_LANGUAGE_FOLDER);
    ASSERT_EQ(localizer.Language(), "english");
    std::vector<std::string> languages = localizer.Languages();
    std::sort(languages.begin(), languages.end());
    ASSERT_EQ(languages, (std::vector<std::string>{"english", "russian"}));
    // Each message with the format arguments the program passes to it.
    const std::vector<std::pair<std::string, std::string>> messages = {
        {"MsgOV1", ""},   {"MsgOV2", ""},   {"MsgOV3", ""},     {"MsgOV4", ""},   {"MsgOV5", "%d"},
        {"MsgOV6", "%d%d"}, {"MsgOV7", "%d%d"}, {"MsgOV8", ""},   {"MsgOV9", ""},   {"MsgOV10", ""},
        {"MsgOV11", ""},  {"MsgOV12", ""},  {"MsgOV13", ""},    {"MsgOV14", ""},  {"MsgOV15", "%s"},
        {"MsgOV16", ""},  {"MsgOV17", ""},  {"MsgOV18", ""},    {"MsgOV22", "%s%s"}, {"MsgOV23", "%s"},
        {"MsgOV24", ""},  {"BR_HelpLink", ""}};
    for (const std::string& language : languages) {
        SCOPED_TRACE(language);
        localizer.SetLanguage(language);
        for (const auto& [key, arguments] : messages) {
            const std::string text = localizer.GetMessage(key);
            EXPECT_NE(text, "") << key;
            std::string found;
            for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 2)) found += text.substr(at, 2);
            EXPECT_EQ(found, arguments) << key << ": " << text;
        }
        for (const char* control : {"FormOrvane", "lblWelcometoOrvane", "LabelStatus", "LabelUpdate", "ButtonBack",
                                    "ButtonNext", "ButtonCancel", "ButtonHelp", "ListViewItems"}) {
            EXPECT_NE(localizer.Lookup(std::string("FormOrvane") + control), "") << control;
        }
        const std::string file = testsupport::ReadFile(std::string(ORVANE_LANGUAGE_FOLDER) + "/" + language + ".lng");
        EXPECT_TRUE(IsUtf8(file));
        // A comment with an equals sign would be read as an entry of its own.
        std::istringstream lines(file);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(';')) {
                EXPECT_EQ(line.find('='), std::string::npos) << line;
            }
        }
        Component form("FormOrvane", TComponentKind::Form, "Orvane");
        Component& list = form.Own("ListViewItems", TComponentKind::ListView);
        list.columns = {"", "", "kept"};
        localizer.Translate(form);
        EXPECT_NE(list.columns[0], "");
        EXPECT_NE(list.columns[1], "");
        EXPECT_EQ(list.columns[2], "kept");
    }
}
