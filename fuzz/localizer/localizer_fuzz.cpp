// Any language-file text loads, lookups ignore case consistently, and translation stays within the columns.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "localizer/localizer.h"

namespace {

class TextLocalizer : public TLocalizer {
public:
    void LoadLanguage() override {}
};

class ListView : public TTranslatableComponent {
public:
    std::string Name() const override { return "ListViewItems"; }
    TComponentKind Kind() const override { return TComponentKind::ListView; }
    void SetCaption(const std::string&) override { __builtin_trap(); }
    int ColumnCount() const override { return 2; }
    void SetColumnCaption(int index, const std::string&) override {
        if (index < 0 || index >= 2) __builtin_trap();
    }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>&) override {}
};

class Form : public TTranslatableComponent {
public:
    std::string Name() const override { return "FormOrvane"; }
    TComponentKind Kind() const override { return TComponentKind::Form; }
    void SetCaption(const std::string& caption) override {
        if (caption.empty()) __builtin_trap();
    }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) override { visit(list_); }

private:
    ListView list_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TextLocalizer localizer;
    localizer.SetLanguage("fuzz");
    localizer.LoadLanguageText(text);
    // Keys are found without regard to case: the first line's name gives the same value in any case.
    std::string key = text.substr(0, text.find_first_of("=\r\n"));
    const std::string value = localizer.Lookup(key);
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (localizer.Lookup(key) != value) __builtin_trap();
    localizer.GetMessage("MsgOV1");
    Form form;
    localizer.Translate(form);
    return 0;
}
