// SPDX-License-Identifier: Apache-2.0
// The one process-wide mutex around the engine library. It is taken before any other lock.
#pragma once

#include <mutex>

namespace kavi::win {

std::mutex& EngineLock();

}  // namespace kavi::win
