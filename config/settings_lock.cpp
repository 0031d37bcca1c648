// SPDX-License-Identifier: Apache-2.0
#include "config/settings_lock.h"

#include <thread>

#include "platform/directories.h"

namespace kavi::win {

bool SettingsLock::Acquire(const std::filesystem::path& directory, std::string* message) {
  if (!CreateDirectories(directory, kPrivateDirectoryMode, message)) return false;
  return lock_.AcquireWaiting(directory / kFileName, message);
}

bool SettingsLock::AcquireWithin(const std::filesystem::path& directory,
                                 std::chrono::milliseconds limit) {
  constexpr std::chrono::milliseconds kPoll(5);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::error_code ec;
  if (!std::filesystem::is_directory(directory, ec)) return false;
  for (;;) {
    switch (lock_.Acquire(directory / kFileName, nullptr)) {
      case InstanceLock::Result::Acquired:
        return true;
      case InstanceLock::Result::Failed:
        return false;
      case InstanceLock::Result::HeldElsewhere:
        break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
}

}  // namespace kavi::win
