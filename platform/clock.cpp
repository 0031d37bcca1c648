// SPDX-License-Identifier: Apache-2.0
#include "platform/clock.h"

#include <time.h>

namespace kavi::win {

uint64_t PerformanceCounter() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t TickCount64() { return PerformanceCounter() / 1000000ULL; }

}  // namespace kavi::win
