// SPDX-License-Identifier: Apache-2.0
// Heap blocks of JSON values (long strings, arrays, objects). A parsed document is tens of
// thousands of small blocks that are all freed together when it goes, and the next document
// wants the same sizes again; each thread keeps the small blocks it frees, by size, for its
// next allocations, up to a bound, so that a parse and its teardown mostly skip the C library's
// allocator.
#pragma once

#include <cstddef>

namespace kavi::win {

// A block of at least `bytes` bytes, aligned to 16 bytes. Throws std::bad_alloc.
void* AllocateJsonBlock(size_t bytes);
// Gives back a block of AllocateJsonBlock, with the size it was asked for.
void FreeJsonBlock(void* block, size_t bytes) noexcept;

}  // namespace kavi::win
