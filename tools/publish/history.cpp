// The publisher's history: one folder per file, named by a digest of the file's kind and name, holding its kept
// versions as "<sequence>.<SHA-256>" (the sequence orders them, oldest first) and a "name" file for people.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "signing/signing.h"
#include "tools/publish/release.h"

namespace {

namespace fs = std::filesystem;

// Marks a folder as a history, so that a folder of someone's files is never pruned.
const char kMarker[] = ".publish-history";
const char kStagedPrefix[] = "staged.";
constexpr size_t kSequenceDigits = 10;
constexpr size_t kShaDigits = 64;
constexpr size_t kFolderDigits = 32;

bool AllHex(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool IsVersionName(const std::string& name) {
    return name.size() == kSequenceDigits + 1 + kShaDigits && name[kSequenceDigits] == '.' &&
           std::all_of(name.begin(), name.begin() + kSequenceDigits, [](char c) { return c >= '0' && c <= '9'; }) &&
           AllHex(name.substr(kSequenceDigits + 1));
}

// The names in a folder of the history; none when it is missing.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    if (!fs::exists(folder, error)) return names;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        names.push_back(entry->path().filename().string());
    if (error) throw EPublishError("cannot read the history folder " + folder + ": " + error.message());
    return names;
}

// The file's versions' names, oldest first.
std::vector<std::string> VersionNames(const std::string& fileFolder) {
    std::vector<std::string> names = Names(fileFolder);
    names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& name) { return !IsVersionName(name); }),
                names.end());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ShaOf(const std::string& versionName) { return versionName.substr(kSequenceDigits + 1); }

std::string NextVersionName(const std::vector<std::string>& names, const std::string& sha256) {
    const unsigned long long next = names.empty() ? 1 : std::stoull(names.back().substr(0, kSequenceDigits)) + 1;
    char sequence[kSequenceDigits + 1];
    std::snprintf(sequence, sizeof sequence, "%010llu", next);
    return sequence + ("." + sha256);
}

[[noreturn]] void HistoryFailure(const std::string& what, const std::string& path) {
    throw EPublishError(what + " " + path + ": " + std::strerror(errno));
}

void Remove(const fs::path& path) {
    std::error_code error;
    fs::remove_all(path, error);
    if (error) throw EPublishError("cannot remove " + path.string() + " from the history: " + error.message());
}

// An existing folder must be empty or a history: anything else may be someone's files.
void CheckOurs(const std::string& folder) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(folder, error))) return;
    if (!fs::is_directory(folder, error)) throw EPublishError("the history " + folder + " is not a folder");
    if (!fs::is_empty(folder, error) && !fs::exists(folder + kMarker, error))
        throw EPublishError("the history " + folder + " is neither empty nor a history kept before");
}

// The history lies apart from the target, whose swap would lose it, and from the source, whose files are published.
void CheckApart(const TPublishOptions& options) {
    const std::string& history = options.HistoryFolder;
    for (const auto& [name, path] : {std::pair{"target", options.Target}, std::pair{"source folder", options.Source}})
        if (PathWithin(history, path) || PathWithin(path, history))
            throw EPublishError(std::string("the history ") + history + " and the " + name + " " + path +
                                " must lie apart");
}

}  // namespace

TPublishHistory::TPublishHistory(const TPublishOptions& options)
    : folder_(options.HistoryFolder + "/"), kept_(options.KeptVersions) {
    CheckApart(options);
    CheckOurs(folder_);
}

// A publication that failed leaves the history as it was.
TPublishHistory::~TPublishHistory() {
    std::error_code error;
    if (created_)
        fs::remove_all(folder_, error);
    else
        for (const auto& [fileFolder, sha256] : staged_) fs::remove(fileFolder + kStagedPrefix + sha256, error);
}

// Made when the first version is staged, so that a publication refused before that leaves no folder behind.
void TPublishHistory::Create() {
    std::error_code error;
    if (fs::exists(folder_ + kMarker, error)) return;
    created_ = !fs::exists(folder_, error);
    if (!platform::ForceDirectories(folder_)) HistoryFailure("cannot create the history", folder_);
    if (!platform::ReplaceFileWithBytes(folder_ + kMarker, "The versions orvane-publish published last.\n"))
        HistoryFailure("cannot write", folder_ + kMarker);
}

std::string TPublishHistory::FileFolder(const TReleaseFile& file) const {
    return folder_ + Sha256Hex(KindName(file.Kind) + ":" + file.FileName).substr(0, kFolderDigits) + "/";
}

std::vector<THistoryVersion> TPublishHistory::Versions(const TReleaseFile& file) const {
    std::vector<THistoryVersion> versions;
    if (!Keeps()) return versions;
    const std::string fileFolder = FileFolder(file);
    const std::vector<std::string> names = VersionNames(fileFolder);
    // A history kept with a larger count holds more until this publication trims it.
    const size_t first = names.size() - std::min(names.size(), static_cast<size_t>(kept_));
    for (const std::string& name : std::vector(names.begin() + static_cast<std::ptrdiff_t>(first), names.end())) {
        std::error_code error;
        const auto size = fs::file_size(fileFolder + name, error);
        if (error) throw EPublishError("cannot read " + fileFolder + name + ": " + error.message());
        versions.push_back({fileFolder + name, static_cast<int64_t>(size), ShaOf(name)});
    }
    return versions;
}

std::string TPublishHistory::Stage(const TReleaseFile& file, const std::string& content, const std::string& sha256) {
    Create();
    const std::string fileFolder = FileFolder(file);
    if (!platform::ForceDirectories(fileFolder)) HistoryFailure("cannot create", fileFolder);
    if (!platform::ReplaceFileWithBytes(fileFolder + "name", KindName(file.Kind) + ":" + file.FileName + "\n"))
        HistoryFailure("cannot write", fileFolder + "name");
    const std::string path = fileFolder + kStagedPrefix + sha256;
    staged_.emplace_back(fileFolder, sha256);
    if (!platform::ReplaceFileWithBytes(path, content)) HistoryFailure("cannot write", path);
    return path;
}

void TPublishHistory::Commit(const std::vector<TReleaseFile>& files) {
    std::error_code error;
    if (!Keeps()) {
        if (fs::exists(folder_, error)) Remove(folder_);
        return;
    }
    created_ = false;
    std::vector<std::string> held;
    for (const TReleaseFile& file : files) held.push_back(FileFolder(file));
    for (const std::string& name : Names(folder_))
        if (name.size() == kFolderDigits && AllHex(name) &&
            std::find(held.begin(), held.end(), folder_ + name + "/") == held.end())
            Remove(folder_ + name);
    for (const std::string& fileFolder : held) Tidy(fileFolder);
    staged_.clear();
}

// The staged version becomes the newest, what a publication that never finished staged goes, and so do the
// oldest versions beyond the count.
void TPublishHistory::Tidy(const std::string& fileFolder) const {
    const auto staged = std::find_if(staged_.begin(), staged_.end(),
                                     [&](const auto& version) { return version.first == fileFolder; });
    for (const std::string& name : Names(fileFolder))
        if (name.starts_with(kStagedPrefix) && (staged == staged_.end() || name != kStagedPrefix + staged->second))
            Remove(fileFolder + name);
    if (staged != staged_.end()) KeepStaged(fileFolder, staged->second);
    const std::vector<std::string> names = VersionNames(fileFolder);
    for (size_t drop = 0; drop + static_cast<size_t>(kept_) < names.size(); ++drop) Remove(fileFolder + names[drop]);
}

void TPublishHistory::KeepStaged(const std::string& fileFolder, const std::string& sha256) const {
    const std::vector<std::string> names = VersionNames(fileFolder);
    // A file that went back to an older version keeps that version once, as its newest.
    for (const std::string& name : names)
        if (ShaOf(name) == sha256) Remove(fileFolder + name);
    const std::string newest = fileFolder + NextVersionName(names, sha256);
    if (!platform::RenameFile(fileFolder + kStagedPrefix + sha256, newest)) HistoryFailure("cannot keep", newest);
}
