// SPDX-License-Identifier: Apache-2.0
#include "config/json_memory.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

namespace kavi::win {

namespace {

// Under AddressSanitizer every block goes to the C library, so that a use after free is caught
// rather than served from the cache.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCacheBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kCacheBlocks = false;
#else
constexpr bool kCacheBlocks = true;
#endif
#else
constexpr bool kCacheBlocks = true;
#endif

// Sizes are rounded up to a multiple of the grain; blocks above the largest cached size go to
// the C library both ways.
constexpr size_t kGrain = 16;
static_assert(alignof(std::max_align_t) >= kGrain, "malloc's blocks are aligned to the grain");
constexpr size_t kLargestCached = 512;
constexpr size_t kClasses = kLargestCached / kGrain;
// What one thread may hold on to: a few large documents' worth of small blocks.
constexpr size_t kCachedBytesLimit = size_t{8} << 20;

struct FreeBlock {
  FreeBlock* next;
};

// Plain data, so that reaching it costs no guard; the releaser below empties it when the
// thread ends.
struct BlockCache {
  FreeBlock* heads[kClasses];
  size_t cached_bytes;
  bool registered;
  bool closed;  // the thread is ending: blocks go straight back to the C library
};
thread_local BlockCache cache;

struct CacheReleaser {
  ~CacheReleaser() {
    for (FreeBlock*& head : cache.heads) {
      while (head != nullptr) std::free(std::exchange(head, head->next));
    }
    cache.cached_bytes = 0;
    cache.closed = true;
  }
};

void RegisterReleaser() {
  thread_local CacheReleaser releaser;
  (void)releaser;
  cache.registered = true;
}

}  // namespace

void* AllocateJsonBlock(size_t bytes) {
  if (kCacheBlocks && bytes - 1 < kLargestCached) {
    const size_t size_class = (bytes - 1) / kGrain;
    if (FreeBlock* block = cache.heads[size_class]; block != nullptr) {
      cache.heads[size_class] = block->next;
      cache.cached_bytes -= (size_class + 1) * kGrain;
      // The next block of this size is read when it is handed out; fetch it while this one is
      // being filled, rather than wait for it then.
      __builtin_prefetch(block->next, 1);
      return block;
    }
    // Allocated at the class's full size, so that it can serve any request of its class later.
    bytes = (size_class + 1) * kGrain;
  }
  void* block = std::malloc(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void FreeJsonBlock(void* block, size_t bytes) noexcept {
  if (block == nullptr) return;
  if (kCacheBlocks && bytes - 1 < kLargestCached && !cache.closed) {
    const size_t size_class = (bytes - 1) / kGrain;
    const size_t class_bytes = (size_class + 1) * kGrain;
    if (cache.cached_bytes + class_bytes <= kCachedBytesLimit) {
      if (!cache.registered) RegisterReleaser();
      auto* free_block = static_cast<FreeBlock*>(block);
      free_block->next = cache.heads[size_class];
      cache.heads[size_class] = free_block;
      cache.cached_bytes += class_bytes;
      return;
    }
  }
  std::free(block);
}

}  // namespace kavi::win
