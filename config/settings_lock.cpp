#include "tools/settings/settings_lock.h"

#include "platform/directories.h"

namespace kavi::win {

bool SettingsLock::Acquire(const std::filesystem::path& directory, std::string* message) {
  if (!CreateDirectories(directory, kPrivateDirectoryMode, message)) return false;
  return lock_.AcquireWaiting(directory / kFileName, message);
}

}  // namespace kavi::win
