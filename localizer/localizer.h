#pragma once
// Message texts and window captions from language files.
//
// Translation works on a small toolkit-neutral view of a window: TTranslatableComponent. A window (the Qt
// wizard, the windowless data module) implements it over its own objects instead of building a copy of its
// tree: owned components are handed out one at a time through ForEachOwned, so an adapter may wrap each child
// widget in a short-lived object on the stack while the callback runs. Only direct ownership is visited.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/exception.h"

enum class TComponentKind { Form, Label, Button, MenuItem, Panel, ListView, Other };

class TTranslatableComponent {
public:
    virtual ~TTranslatableComponent() = default;

    virtual std::string Name() const = 0;
    virtual TComponentKind Kind() const = 0;
    // Forms, labels, buttons, menu items and panels take a caption; other kinds may ignore it.
    virtual void SetCaption(const std::string& caption) = 0;
    // List views: the number of columns and the caption of one of them.
    virtual int ColumnCount() const { return 0; }
    virtual void SetColumnCaption(int /*index*/, const std::string& /*caption*/) {}
    // Calls visit for every component this one owns directly, in ownership order.
    virtual void ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) = 0;
};

class TLocalizer {
public:
    virtual ~TLocalizer() = default;

    const std::string& Language() const { return language_; }
    // Stores the name and, when it is not empty, loads that language's table.
    void SetLanguage(const std::string& name);
    virtual void LoadLanguage() = 0;

    // Replaces the table with the entries of a language file's text.
    void LoadLanguageText(const std::string& text);
    // The value of a full key (section name followed by entry name), without regard to case; empty if absent.
    std::string Lookup(const std::string& fullKey) const;
    std::string GetMessage(const std::string& key) const { return Lookup("Messages" + key); }

    // Sets the captions of a window and its directly owned components; raises Exception when no language
    // has been selected.
    void Translate(TTranslatableComponent& component) const;
    void TranslateComponent(TTranslatableComponent& component) const;
    static void TranslateListColumns(TTranslatableComponent& listView, const std::string& value);

private:
    std::string language_;
    // Full keys sorted without regard to case, each with the position of its value in values_.
    std::vector<std::pair<std::string, size_t>> keys_;
    std::vector<std::string> values_;
};

// Language files "<language>.lng" in one folder; the extension matches without regard to case.
class TFileLocalizer : public TLocalizer {
public:
    // Lists the folder's languages and selects "english" when present, else the first one found.
    explicit TFileLocalizer(std::string folder);

    const std::string& Folder() const { return folder_; }
    const std::vector<std::string>& Languages() const { return languages_; }
    void ScanLanguages();
    // Reads the selected language's file when it is listed; an unlisted language keeps the loaded table.
    // A listed file that cannot be read raises EFOpenError.
    void LoadLanguage() override;

private:
    std::string folder_;
    std::vector<std::string> languages_;
    // The file each listed language was found as, in the same order ("English.LNG" for "English").
    std::vector<std::string> languageFiles_;
};
