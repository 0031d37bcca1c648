// SPDX-License-Identifier: Apache-2.0
#include "server/engine/engine_lock.h"

namespace kavi::win {

std::mutex& EngineLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace kavi::win
