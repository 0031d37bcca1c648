// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

namespace kavi::win {

// The high-resolution counter (CLOCK_MONOTONIC in nanoseconds).
uint64_t PerformanceCounter();
// The 64-bit tick count (CLOCK_MONOTONIC in milliseconds).
uint64_t TickCount64();

}  // namespace kavi::win
