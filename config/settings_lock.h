// Serialises the settings program's read-change-write cycles, so that two toolbar clicks in a
// row (two KaviSettings processes) both land instead of one overwriting the other.
#pragma once

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

 private:
  InstanceLock lock_;
};

}  // namespace kavi::win
