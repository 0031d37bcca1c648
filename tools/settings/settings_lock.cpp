#include "tools/settings/settings_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace kavi::win {

SettingsLock::~SettingsLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool SettingsLock::Acquire(const std::filesystem::path& directory, std::string* message) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  const std::filesystem::path path = directory / kFileName;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  int result = fd_ < 0 ? -1 : 0;
  while (result == 0 && (result = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) result = 0;
  if (result != 0) {
    *message = "cannot lock " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace kavi::win
