// One server per user and session: an exclusive, non-blocking flock on a lock file.
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
  void Release() { fd_.reset(); }
  bool held() const { return fd_.valid(); }

 private:
  UniqueFd fd_;
};

}  // namespace kavi::win
