// SPDX-License-Identifier: Apache-2.0
#include "platform/heap.h"

#include <malloc.h>

namespace kavi::win {
namespace {

// The main arena and one more: a session, the engine's loader or a job thread rarely has to
// wait for another to finish an allocation.
constexpr int kHeapArenas = 2;

// Under a sanitizer the memory is its allocator's, not glibc's: there is nothing to tune or
// release.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kGlibcHeap = false;
#else
constexpr bool kGlibcHeap = true;
#endif

}  // namespace

void LimitHeapArenas() {
  if (kGlibcHeap) mallopt(M_ARENA_MAX, kHeapArenas);
}

void ReleaseFreeHeap() {
  if (kGlibcHeap) malloc_trim(0);
}

}  // namespace kavi::win
