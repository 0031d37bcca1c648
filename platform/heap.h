// SPDX-License-Identifier: Apache-2.0
// The memory allocator's settings for a long-running server. Linux: glibc's malloc.
#pragma once

namespace kavi::win {

// Keeps the allocator to a few arenas. glibc gives threads arenas of their own as they contend,
// and the server runs a thread per connection: what one arena frees is not reused by another, so
// a server whose clients come and go keeps growing. Its requests are serialised by the engine
// lock anyway, so few arenas cost no speed. Call before the first thread starts.
void LimitHeapArenas();

// Returns the allocator's free pages to the system: after a large structure was replaced (the
// dictionaries, after an engine restart), so that the process does not keep both sizes, and now
// and then at a quiet moment, so that what bursts of typing left free does not stay with it.
void ReleaseFreeHeap();

}  // namespace kavi::win
