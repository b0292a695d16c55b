#pragma once
// Small blocks for the document tree (nodes, their lists, their texts), carved one after another from 64 KiB
// chunks: a tree of a hundred thousand nodes costs a pointer bump per block instead of a heap allocation with
// its header and rounding. Any thread may give a block back; a chunk returns to the heap once every block cut
// from it is back and its thread has moved on, so a node that outlives its document keeps its chunk, and
// only that, alive.
#include <cstddef>

namespace xmlpool {

// Blocks above this size come from the heap directly.
inline constexpr std::size_t kMaxPooledBlock = 256;

// Aligned to 8 bytes, which is all the tree's objects need. Raises std::bad_alloc when the heap is exhausted.
void* Allocate(std::size_t size);
// Size: the size the block was allocated with.
void Release(void* block, std::size_t size) noexcept;

}  // namespace xmlpool
