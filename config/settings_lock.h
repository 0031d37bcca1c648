// SPDX-License-Identifier: Apache-2.0
// The lock beside the configuration files that every writer of the pair holds for its whole
// read-change-write cycle: two KaviSettings processes (two toolbar clicks in a row) both land
// instead of one overwriting the other, and the server's reload waits for a save in progress
// to finish, so it reads the pair the save leaves rather than the half it has written so far.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/instance_lock.h"

namespace kavi::win {

class SettingsLock {
 public:
  // The lock file beside the configuration files.
  static constexpr char kFileName[] = "settings.lock";

  // Creates `directory` when missing and waits for the lock. False with a message when the lock
  // file cannot be opened or locked.
  bool Acquire(const std::filesystem::path& directory, std::string* message);
  // Waits at most `limit` for the lock of an existing directory; false when it was not had (a
  // save that hangs must not stop the reader for good).
  bool AcquireWithin(const std::filesystem::path& directory, std::chrono::milliseconds limit);

 private:
  InstanceLock lock_;
};

}  // namespace kavi::win
