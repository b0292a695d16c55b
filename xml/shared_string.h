#pragma once
// An immutable string in one compact heap block shared by reference: a node keeps one word for it, equal tag
// names of a loaded document share one block, and copies of nodes share their text. Up to seven bytes are
// kept in the word itself, so short values cost no allocation.
#include <atomic>
#include <bit>
#include <cstdint>
#include <string_view>
#include <utility>

namespace xmlstring {

class TSharedString {
public:
    TSharedString() = default;
    explicit TSharedString(std::string_view text);
    TSharedString(const TSharedString& other) noexcept : bits_(other.bits_) { AddRef(); }
    TSharedString(TSharedString&& other) noexcept : bits_(std::exchange(other.bits_, 0)) {}
    TSharedString& operator=(TSharedString other) noexcept {
        std::swap(bits_, other.bits_);
        return *this;
    }
    ~TSharedString();

    std::string_view View() const noexcept {
        if (IsInline()) {
            return {reinterpret_cast<const char*>(&bits_) + 1, (bits_ & 0xFF) >> 1};
        }
        const Block* block = SharedBlock();
        return block ? std::string_view(reinterpret_cast<const char*>(block + 1), block->length)
                     : std::string_view();
    }

private:
    // The text follows the header in the same allocation.
    struct Block {
        std::atomic<std::uint32_t> references;
        std::uint32_t length;
    };
    static constexpr std::size_t kInlineCapacity = sizeof(std::uintptr_t) - 1;
    static_assert(std::endian::native == std::endian::little, "the in-place tag lives in the lowest byte");

    // Zero is the empty string; a set low bit marks text kept in place (length in the lowest byte, the text
    // in the bytes after it); anything else is a Block pointer, whose alignment keeps the low bit clear.
    bool IsInline() const noexcept { return (bits_ & 1) != 0; }
    Block* SharedBlock() const noexcept { return IsInline() ? nullptr : reinterpret_cast<Block*>(bits_); }
    void AddRef() noexcept {
        if (Block* block = SharedBlock()) {
            block->references.fetch_add(1, std::memory_order_relaxed);
        }
    }

    std::uintptr_t bits_ = 0;
};

}  // namespace xmlstring
