#include "xml/shared_string.h"

#include <cstring>
#include <new>

#include "xml/block_pool.h"

namespace xmlstring {

TSharedString::TSharedString(std::string_view text) {
    if (text.empty()) {
        return;
    }
    if (text.size() <= kInlineCapacity) {
        bits_ = (text.size() << 1) | 1;
        std::memcpy(reinterpret_cast<char*>(&bits_) + 1, text.data(), text.size());
        return;
    }
    if (text.size() > UINT32_MAX) {
        throw std::bad_alloc();
    }
    void* memory = xmlpool::Allocate(sizeof(Block) + text.size());
    new (memory) Block{{1}, static_cast<std::uint32_t>(text.size())};
    std::memcpy(static_cast<char*>(memory) + sizeof(Block), text.data(), text.size());
    bits_ = reinterpret_cast<std::uintptr_t>(memory);
}

TSharedString::~TSharedString() {
    Block* block = SharedBlock();
    if (block && block->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        const std::size_t size = sizeof(Block) + block->length;
        block->~Block();
        xmlpool::Release(block, size);
    }
}

}  // namespace xmlstring
