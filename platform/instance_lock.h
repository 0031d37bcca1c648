// SPDX-License-Identifier: Apache-2.0
// An exclusive lock on a lock file (flock): one server per user and session takes it without
// waiting; a read-change-write cycle of shared files waits for it.
#pragma once

#include <filesystem>
#include <string>

#include "platform/ipc.h"

namespace kavi::win {

class InstanceLock {
 public:
  enum class Result { Acquired, HeldElsewhere, Failed };

  // Tries to take the lock at path; the lock is held until Release or destruction.
  Result Acquire(const std::filesystem::path& path, std::string* message);
  // Waits until the lock at path is free and takes it. False with a message (and the system's
  // error number, when asked for) when the file cannot be opened or locked.
  bool AcquireWaiting(const std::filesystem::path& path, std::string* message,
                      int* error = nullptr);
  void Release() { fd_.reset(); }
  bool held() const { return fd_.valid(); }

 private:
  UniqueFd fd_;
};

}  // namespace kavi::win
