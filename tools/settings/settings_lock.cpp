#include "tools/settings/settings_lock.h"

#include <system_error>

namespace kavi::win {

bool SettingsLock::Acquire(const std::filesystem::path& directory, std::string* message) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  return lock_.AcquireWaiting(directory / kFileName, message);
}

}  // namespace kavi::win
