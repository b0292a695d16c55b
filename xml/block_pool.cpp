#include "xml/block_pool.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_POOL_ASAN 1
#endif
#endif

#if defined(ORVANE_POOL_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace xmlpool {

namespace {

// Free and given-back pool memory is marked unusable for the address sanitizer, so a node used after its
// release is caught there as it would be on the heap.
void Poison([[maybe_unused]] const void* address, [[maybe_unused]] std::size_t size) {
#if defined(ORVANE_POOL_ASAN)
    ASAN_POISON_MEMORY_REGION(address, size);
#endif
}

void Unpoison([[maybe_unused]] const void* address, [[maybe_unused]] std::size_t size) {
#if defined(ORVANE_POOL_ASAN)
    ASAN_UNPOISON_MEMORY_REGION(address, size);
#endif
}

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kChunkSize = 64 * 1024;
constexpr std::size_t kAlignment = 8;

struct Chunk;
// Every page of a chunk starts with its chunk, so a block finds the chunk from its own address. Chunks need
// only page alignment, which the heap gives without wasting much around them. The header takes a whole alignment
// step, so that the page's first block is aligned where a pointer is smaller (32-bit).
struct alignas(kAlignment) PageHeader {
    Chunk* chunk;
};
struct Chunk {
    PageHeader firstPage;
    // The blocks not given back yet, plus kUnretired while a thread still cuts blocks from the chunk.
    std::atomic<std::int64_t> outstanding;
};
constexpr std::int64_t kUnretired = std::int64_t{1} << 62;

// The chunk this thread cuts from; its count of blocks is kept here and settled once, when the chunk retires,
// so cutting a block costs no atomic operation.
struct Cursor {
    Chunk* chunk = nullptr;
    char* next = nullptr;
    char* pageEnd = nullptr;
    std::int64_t cut = 0;
};
thread_local Cursor cursor;

void Drop(Chunk* chunk, std::int64_t count) noexcept {
    if (chunk->outstanding.fetch_sub(count, std::memory_order_acq_rel) == count) {
        Unpoison(chunk, kChunkSize);
        ::operator delete(chunk, std::align_val_t{kPageSize});
    }
}

void Retire(Cursor& current) noexcept {
    if (Chunk* chunk = std::exchange(current.chunk, nullptr)) {
        current.next = current.pageEnd = nullptr;
        Drop(chunk, kUnretired - current.cut);
    }
}

// Retires the thread's chunk when the thread ends; the cursor itself needs no destructor, so blocks released
// by later destructors of the thread still find valid state.
struct ThreadRetirement {
    bool registered = false;
    ~ThreadRetirement() { Retire(cursor); }
};
thread_local ThreadRetirement retirement;

void NewChunk(Cursor& current) {
    void* memory = ::operator new(kChunkSize, std::align_val_t{kPageSize});
    Retire(current);
    retirement.registered = true;
    auto* chunk = new (memory) Chunk{{nullptr}, {kUnretired}};
    chunk->firstPage.chunk = chunk;
    Poison(chunk + 1, kChunkSize - sizeof(Chunk));
    current.chunk = chunk;
    current.cut = 0;
    current.next = reinterpret_cast<char*>(chunk + 1);
    current.pageEnd = reinterpret_cast<char*>(chunk) + kPageSize;
}

// Blocks never straddle pages: what is left at the end of one stays unused.
void NextPage(Cursor& current) {
    char* const chunkEnd = current.chunk ? reinterpret_cast<char*>(current.chunk) + kChunkSize : nullptr;
    if (current.pageEnd == chunkEnd) {
        NewChunk(current);
        return;
    }
    auto* header = reinterpret_cast<PageHeader*>(current.pageEnd);
    Unpoison(header, sizeof *header);
    header->chunk = current.chunk;
    current.next = current.pageEnd + sizeof *header;
    current.pageEnd += kPageSize;
}

std::size_t Rounded(std::size_t size) { return size == 0 ? kAlignment : (size + kAlignment - 1) & ~(kAlignment - 1); }

}  // namespace

void* Allocate(std::size_t size) {
    if (size > kMaxPooledBlock) return ::operator new(size);
    size = Rounded(size);
    Cursor& current = cursor;
    if (static_cast<std::size_t>(current.pageEnd - current.next) < size) NextPage(current);
    char* block = current.next;
    current.next += size;
    ++current.cut;
    Unpoison(block, size);
    return block;
}

void Release(void* block, std::size_t size) noexcept {
    if (!block) return;
    if (size > kMaxPooledBlock) {
        ::operator delete(block);
        return;
    }
    Poison(block, Rounded(size));
    auto* page = reinterpret_cast<PageHeader*>(reinterpret_cast<std::uintptr_t>(block) & ~(kPageSize - 1));
    Drop(page->chunk, 1);
}

}  // namespace xmlpool
