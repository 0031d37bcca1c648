// SPDX-License-Identifier: Apache-2.0
#include "platform/heap.h"

#include <malloc.h>

namespace kavi::win {
namespace {

// The main arena and one more: a session, the engine's loader or a job thread rarely has to
// wait for another to finish an allocation.
constexpr int kHeapArenas = 2;

}  // namespace

void LimitHeapArenas() {
  mallopt(M_ARENA_MAX, kHeapArenas);
}

void ReleaseFreeHeap() {
  malloc_trim(0);
}

}  // namespace kavi::win
