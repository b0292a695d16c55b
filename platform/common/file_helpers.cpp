#include "platform/files.h"

namespace platform {

bool ForEachBlock(File& input, const std::function<bool(std::string_view block)>& consume) {
    char buffer[64 * 1024];
    for (;;) {
        const std::ptrdiff_t count = input.Read(buffer, sizeof buffer);
        if (count < 0) return false;
        if (count == 0) return true;
        if (!consume(std::string_view(buffer, static_cast<std::size_t>(count)))) return false;
    }
}

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool File::ReadFull(void* buffer, std::size_t size, std::size_t& read) {
    read = 0;
    while (read < size) {
        const std::ptrdiff_t count = Read(static_cast<char*>(buffer) + read, size - read);
        if (count < 0) return false;
        if (count == 0) break;
        read += static_cast<std::size_t>(count);
    }
    return true;
}

bool ReplaceFileWithCopy(const std::string& source, const std::string& target, Durability durability) {
    File input;
    if (!input.OpenRead(source)) return false;
    const auto copy = [&input](File& output) {
        return ForEachBlock(input, [&output](std::string_view block) { return output.Write(block); });
    };
    return ReplaceFile(target, copy, durability);
}

bool ReplaceFileWithBytes(const std::string& target, std::string_view bytes) {
    return ReplaceFile(target, [bytes](File& output) { return output.Write(bytes); });
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    File input;
    if (!input.OpenRead(path)) return false;
    return ForEachBlock(input, [&content](std::string_view block) {
        content.append(block);
        return true;
    });
}

}  // namespace platform
