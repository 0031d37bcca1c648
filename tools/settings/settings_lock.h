// Serialises the settings program's read-change-write cycles, so that two toolbar clicks in a
// row (two KaviSettings processes) both land instead of one overwriting the other.
#pragma once

#include <filesystem>
#include <string>

namespace kavi::win {

class SettingsLock {
 public:
  // The lock file beside the configuration files.
  static constexpr char kFileName[] = "settings.lock";

  SettingsLock() = default;
  ~SettingsLock();
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;

  // Creates `directory` when missing and waits for the lock. False with a message when the lock
  // file cannot be opened or locked.
  bool Acquire(const std::filesystem::path& directory, std::string* message);

 private:
  int fd_ = -1;
};

}  // namespace kavi::win
