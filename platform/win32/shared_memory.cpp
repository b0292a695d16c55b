#include "platform/shared_memory.h"

#include "platform/win32/system.h"

#include <algorithm>
#include <cstring>

#include "platform/win32/text.h"

namespace platform {

namespace {

// Named mappings live in their own name space, where the leading '/' of a POSIX name means nothing.
std::wstring MappingName(std::string_view name) {
    while (name.starts_with('/')) name.remove_prefix(1);
    return win32::Wide(name);
}

HANDLE OpenMapping(const std::string& name, std::size_t size, SharedMemoryBlock::Opening opening) {
    const std::wstring wideName = MappingName(name);
    if (opening == SharedMemoryBlock::Opening::OpenExisting) {
        return OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, wideName.c_str());
    }
    const auto high = static_cast<DWORD>(static_cast<std::uint64_t>(size) >> 32);
    const auto low = static_cast<DWORD>(size & 0xFFFFFFFFu);
    // A block on the paging file: it lasts as long as some process holds it open.
    return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, high, low, wideName.c_str());
}

HANDLE Handle(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

// Runs `use` on a view of the block's first `size` bytes; false when no view can be had.
template <typename Use>
bool WithView(std::intptr_t native, std::size_t size, Use use) {
    void* view = MapViewOfFile(Handle(native), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
    if (view == nullptr) return false;
    use(static_cast<char*>(view));
    UnmapViewOfFile(view);
    return true;
}

}  // namespace

SharedMemoryBlock::SharedMemoryBlock(std::string name, std::size_t size, Opening opening)
    : name_(std::move(name)), size_(size) {
    if (size_ == 0) return;
    const HANDLE mapping = OpenMapping(name_, size_, opening);
    if (mapping == nullptr) return;
    native_ = reinterpret_cast<std::intptr_t>(mapping);
    // A block that another process still holds survives a fresh creation: it starts empty all the same.
    if (opening == Opening::CreateFresh && !WriteText("")) {
        CloseHandle(mapping);
        native_ = kClosed;
    }
}

SharedMemoryBlock::~SharedMemoryBlock() {
    if (IsOpen()) CloseHandle(Handle(native_));
}

std::string SharedMemoryBlock::ReadText() const {
    std::string text;
    if (!IsOpen()) return text;
    WithView(native_, size_, [&](const char* bytes) { text.assign(bytes, size_); });
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

bool SharedMemoryBlock::WriteText(std::string_view text) {
    if (!IsOpen() || text.size() >= size_) return false;
    return WithView(native_, size_, [&](char* bytes) {
        std::memcpy(bytes, text.data(), text.size());
        bytes[text.size()] = '\0';
    });
}

// The name goes with the last handle to the block; there is nothing to remove before that.
bool SharedMemoryBlock::Remove() { return true; }

}  // namespace platform
