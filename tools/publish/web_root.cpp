// The web root is built in a fresh folder beside the target and swapped in with one rename, so a server sees
// the old release or the new one, never a part of either.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "tools/publish/release.h"

namespace {

namespace fs = std::filesystem;

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The path with every link resolved, as far as it exists.
fs::path Resolved(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(WithoutTrailingSlashes(path), error);
    const fs::path resolved = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : resolved;
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
    return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first == outer.end();
}

// Only an empty folder or an earlier publication may be replaced: anything else may be someone's files.
void CheckReplaceable(const std::string& target) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(target, error))) return;
    if (!fs::is_directory(target, error)) throw EPublishError("the target " + target + " is not a folder");
    if (!fs::is_empty(target, error) && !fs::exists(target + "/" + QueryCataloguePath(), error))
        throw EPublishError("the target " + target + " is neither empty nor a web root published before");
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

void CheckSourceAndTarget(const std::string& source, const std::string& target) {
    std::error_code error;
    if (!fs::exists(source, error)) throw EPublishError("the source folder " + source + " does not exist");
    if (!fs::is_directory(source, error)) throw EPublishError("the source " + source + " is not a folder");
    const fs::path from = Resolved(source);
    const fs::path to = Resolved(target);
    if (IsWithin(to, from)) throw EPublishError("the target " + target + " lies inside the source folder " + source);
    if (IsWithin(from, to)) throw EPublishError("the source folder " + source + " lies inside the target " + target);
}

std::string DefaultHistoryFolder(const std::string& target) { return WithoutTrailingSlashes(target) + ".history"; }

bool PathWithin(const std::string& inner, const std::string& outer) { return IsWithin(Resolved(inner), Resolved(outer)); }

TStagedWebRoot::TStagedWebRoot(const std::string& target) : target_(WithoutTrailingSlashes(target)) {
    CheckReplaceable(target_);
    if (!platform::ForceDirectories(fs::absolute(target_).parent_path().string()))
        throw EPublishError("cannot create the folder that holds " + target_ + ": " + std::strerror(errno));
    std::string folder = target_ + ".new-XXXXXX";
    if (!::mkdtemp(folder.data()))
        throw EPublishError("cannot create a folder beside " + target_ + ": " + std::strerror(errno));
    // mkdtemp makes the folder private; the server must be able to read it.
    ::chmod(folder.c_str(), 0777 & ~CurrentUmask());
    folder_ = folder + "/";
}

TStagedWebRoot::~TStagedWebRoot() {
    std::error_code error;
    if (!folder_.empty()) fs::remove_all(WithoutTrailingSlashes(folder_), error);
}

void TStagedWebRoot::SwapIn() {
    const std::string staged = WithoutTrailingSlashes(folder_);
    std::error_code error;
    const bool replacing = fs::exists(fs::symlink_status(target_, error));
    // Exchanging the two names is one step; the old web root then sits in the staging folder's place.
    const int failed = replacing ? ::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE)
                                 : ::rename(staged.c_str(), target_.c_str());
    if (failed) throw EPublishError("cannot move the new web root to " + target_ + ": " + std::strerror(errno));
    if (!replacing) folder_.clear();
}
