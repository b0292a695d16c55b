#include "localizer/localizer.h"

#include <algorithm>
#include <compare>

#include "platform/files.h"
#include "platform/stream.h"

namespace {

constexpr const char* kLanguageExtension = ".lng";

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(const std::string& text) {
    const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    const auto last = std::find_if_not(text.rbegin(), std::make_reverse_iterator(first), IsBlank).base();
    return std::string(first, last);
}

unsigned char Folded(char c) { return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); }

// Keys compare without regard to ASCII case over all their bytes, the same way for sorting and for searching
// whatever locale the process has switched to in between.
int CompareKeys(const std::string& a, const std::string& b) {
    const auto order = std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end(),
                                                              [](char x, char y) { return Folded(x) <=> Folded(y); });
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

bool SameName(const std::string& a, const std::string& b) { return CompareKeys(a, b) == 0; }

bool IsLanguageFileName(const std::string& name) {
    const std::string extension = kLanguageExtension;
    return name.size() > extension.size() && SameName(name.substr(name.size() - extension.size()), extension);
}

// Lines end in CR LF, LF or CR; a break at the very end starts no further line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

std::string SectionName(const std::string& line) {
    std::string name = Trim(line);
    std::erase_if(name, [](char c) { return c == '[' || c == ']'; });
    return name;
}

// Column captions: every comma becomes a line break, so a comma at the very end starts no further caption.
std::vector<std::string> ColumnCaptions(std::string value) {
    std::replace(value.begin(), value.end(), ',', '\n');
    return SplitLines(value);
}

std::string ReadFileText(const std::string& path) {
    TFileStream file(path, TFileStream::Mode::OpenRead);
    std::string text;
    char block[65536];
    for (int64_t got; (got = file.Read(block, sizeof block)) > 0;) text.append(block, static_cast<size_t>(got));
    return text;
}

// The owned kinds that take a caption; a form takes one only as the window being translated.
bool TakesCaption(TComponentKind kind) {
    return kind == TComponentKind::Label || kind == TComponentKind::Button || kind == TComponentKind::MenuItem ||
           kind == TComponentKind::Panel;
}

}  // namespace

void TLocalizer::SetLanguage(const std::string& name) {
    language_ = name;
    if (!name.empty()) LoadLanguage();
}

void TLocalizer::LoadLanguageText(const std::string& text) {
    keys_.clear();
    values_.clear();
    std::string section;
    for (const std::string& line : SplitLines(text)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            if (line.find('[') != std::string::npos && line.find(']') != std::string::npos) section = SectionName(line);
            continue;
        }
        std::string name = Trim(line.substr(0, equals));
        std::string value = Trim(line.substr(equals + 1));
        if (name.empty() || value.empty()) continue;
        keys_.emplace_back(section + name, values_.size());
        values_.push_back(std::move(value));
    }
    std::sort(keys_.begin(), keys_.end(), [](const auto& a, const auto& b) { return CompareKeys(a.first, b.first) < 0; });
}

std::string TLocalizer::Lookup(const std::string& fullKey) const {
    const auto found = std::lower_bound(keys_.begin(), keys_.end(), fullKey,
                                        [](const auto& entry, const std::string& key) { return CompareKeys(entry.first, key) < 0; });
    if (found == keys_.end() || !SameName(found->first, fullKey)) return {};
    return values_[found->second];
}

void TLocalizer::Translate(TTranslatableComponent& component) const {
    if (language_.empty()) throw Exception("Cannot load language file. Language is not specified.");
    TranslateComponent(component);
}

void TLocalizer::TranslateComponent(TTranslatableComponent& component) const {
    const std::string owner = component.Name();
    if (component.Kind() == TComponentKind::Form) {
        const std::string caption = Lookup(owner + owner);
        if (!caption.empty()) component.SetCaption(caption);
    }
    component.ForEachOwned([&](TTranslatableComponent& owned) {
        const std::string value = Lookup(owner + owned.Name());
        if (value.empty()) return;
        if (owned.Kind() == TComponentKind::ListView) {
            TranslateListColumns(owned, value);
        } else if (TakesCaption(owned.Kind())) {
            owned.SetCaption(value);
        }
    });
}

void TLocalizer::TranslateListColumns(TTranslatableComponent& listView, const std::string& value) {
    const std::vector<std::string> captions = ColumnCaptions(value);
    const int columns = std::min(listView.ColumnCount(), static_cast<int>(captions.size()));
    for (int index = 0; index < columns; ++index) listView.SetColumnCaption(index, captions[static_cast<size_t>(index)]);
}

TFileLocalizer::TFileLocalizer(std::string folder) : folder_(std::move(folder)) {
    ScanLanguages();
    const bool hasEnglish = std::any_of(languages_.begin(), languages_.end(),
                                        [](const std::string& name) { return SameName(name, "english"); });
    SetLanguage(hasEnglish ? "english" : languages_.empty() ? std::string() : languages_.front());
}

void TFileLocalizer::ScanLanguages() {
    languages_.clear();
    languageFiles_.clear();
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder(folder_, entries)) return;
    for (const platform::FolderEntry& entry : entries) {
        if (!IsLanguageFileName(entry.name)) continue;
        languages_.push_back(entry.name.substr(0, entry.name.rfind('.')));
        languageFiles_.push_back(entry.name);
    }
}

void TFileLocalizer::LoadLanguage() {
    const auto listed = std::find_if(languages_.begin(), languages_.end(),
                                     [this](const std::string& name) { return SameName(name, Language()); });
    if (listed == languages_.end()) return;
    // The file opened is the one listed: on a file system that tells case, "GERMAN" opens "german.lng" and
    // "English" opens "English.LNG".
    const std::string& file = languageFiles_[static_cast<size_t>(listed - languages_.begin())];
    const std::string separator = folder_.ends_with('/') ? "" : "/";
    LoadLanguageText(ReadFileText(folder_ + separator + file));
}
