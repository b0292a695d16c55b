#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() : TempDir(fs::temp_directory_path().string()) {}

TempDir::TempDir(const std::string& parent) {
    // A folder of a random name, private to the user; creating it fails when the name is taken.
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path folder = fs::path(parent) / ("orvane-test-" + std::to_string(random()));
        if (fs::create_directory(folder, ec)) {
            fs::permissions(folder, fs::perms::owner_all, ec);
            path_ = folder.generic_string() + "/";
        }
    }
    if (path_.empty()) ADD_FAILURE() << "cannot create a temporary folder: " << ec.message();
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make everything writable so the removal succeeds.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string ReadSettledFile(const std::string& path) {
    std::string text = FileExists(path) ? ReadFile(path) : std::string();
    for (int wait = 0; wait < 50; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::string again = FileExists(path) ? ReadFile(path) : std::string();
        if (again == text) break;
        text = std::move(again);
    }
    return text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

std::string CopyExecutable(const std::string& program, const std::string& folder) {
    const fs::path target = fs::path(folder) / fs::path(program).filename();
    fs::copy_file(program, target, fs::copy_options::overwrite_existing);
    return target.string();
}

std::string FolderWithNoRoomBelow(const TempDir& dir) {
    // The longest path the system takes has PATH_MAX - 1 bytes; "/x" more is one byte too many.
    const std::size_t length = PATH_MAX - 2;
    std::string path = dir.path().substr(0, dir.path().size() - 1);
    while (length - path.size() > 201) path += "/" + std::string(200, 'd');
    path += "/" + std::string(length - path.size() - 1, 'd');
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) ADD_FAILURE() << "cannot create a folder of " << path.size() << " bytes: " << ec.message();
    return path;
}

}  // namespace testsupport
