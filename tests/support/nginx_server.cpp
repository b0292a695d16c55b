// What both kinds of nginx instance share: URLs and the files of the web root.
#include "tests/support/nginx_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace testsupport {

std::string NginxServer::Url(const std::string& path) const {
    const std::string slash = path.empty() || path[0] != '/' ? "/" : "";
    return "http://127.0.0.1:" + std::to_string(port()) + urlPrefix_ + slash + path;
}

void NginxServer::AddFile(const std::string& relativePath, const std::string& content) const {
    const std::filesystem::path target = webRoot_ + relativePath;
    std::filesystem::create_directories(target.parent_path());
    WriteFile(target.string(), content);
}

void NginxServer::AddLargeFile(const std::string& relativePath, long long size) const {
    const std::filesystem::path target = webRoot_ + relativePath;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    std::string block(1 << 20, '\0');
    for (long long written = 0; written < size && out;) {
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((written + static_cast<long long>(i)) * 131 / 7);
        const long long piece = std::min<long long>(size - written, static_cast<long long>(block.size()));
        out.write(block.data(), piece);
        written += piece;
    }
    if (!out) ADD_FAILURE() << "cannot write " << target;
}

}  // namespace testsupport
