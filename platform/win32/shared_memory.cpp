#include "platform/shared_memory.h"

#include "platform/win32/system.h"

#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/win32/text.h"

namespace platform {

namespace {

// Named mappings live in their own name space, where the leading '/' of a POSIX name means nothing.
std::wstring MappingName(std::string_view name) {
    while (name.starts_with('/')) name.remove_prefix(1);
    return win32::Wide(name);
}

struct LocalMemoryRelease {
    void operator()(void* memory) const { LocalFree(memory); }
};
using SecurityDescriptor = std::unique_ptr<void, LocalMemoryRelease>;

// The SID of the account this process runs as, in text form; empty when it cannot be had.
std::wstring CurrentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    wchar_t* text = nullptr;
    const bool known = GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                       ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text);
    CloseHandle(token);
    if (!known) return {};
    std::wstring sid(text);
    LocalFree(text);
    return sid;
}

// Full access for the current user; nobody else is granted anything.
SecurityDescriptor CurrentUserOnly() {
    const std::wstring sid = CurrentUserSid();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring text = L"D:P(A;;GA;;;" + sid + L")";
    if (sid.empty() ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return SecurityDescriptor(descriptor);
}

// A new block on the paging file: it lasts as long as some process holds it open. An object that already has the
// name, a block or anything else, was made by someone else and may hold their text: it is never used.
HANDLE CreateMapping(const std::wstring& name, std::size_t size) {
    const SecurityDescriptor descriptor = CurrentUserOnly();
    if (descriptor == nullptr) return nullptr;
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    const auto high = static_cast<DWORD>(static_cast<std::uint64_t>(size) >> 32);
    const auto low = static_cast<DWORD>(size & 0xFFFFFFFFu);
    const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &security, PAGE_READWRITE, high, low, name.c_str());
    if (mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mapping);
        return nullptr;
    }
    return mapping;
}

HANDLE OpenMapping(const std::string& name, std::size_t size, SharedMemoryBlock::Opening opening) {
    const std::wstring wideName = MappingName(name);
    if (opening == SharedMemoryBlock::Opening::OpenExisting) {
        return OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, wideName.c_str());
    }
    return CreateMapping(wideName, size);
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

// A freshly made block is all zeros, so it starts empty.
SharedMemoryBlock::SharedMemoryBlock(std::string name, std::size_t size, Opening opening)
    : name_(std::move(name)), size_(size) {
    if (size_ == 0) return;
    const HANDLE mapping = OpenMapping(name_, size_, opening);
    if (mapping != nullptr) native_ = reinterpret_cast<std::intptr_t>(mapping);
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
