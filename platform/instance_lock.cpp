// SPDX-License-Identifier: Apache-2.0
#include "platform/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>

#include <cstring>

namespace kavi::win {

InstanceLock::Result InstanceLock::Acquire(const std::filesystem::path& path,
                                           std::string* message) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    if (message) *message = "cannot open " + path.string() + ": " + std::strerror(errno);
    return Result::Failed;
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return Result::HeldElsewhere;
    if (message) *message = "cannot lock " + path.string() + ": " + std::strerror(errno);
    return Result::Failed;
  }
  fd_ = std::move(fd);
  return Result::Acquired;
}

bool InstanceLock::AcquireWaiting(const std::filesystem::path& path, std::string* message,
                                  int* error) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  int result = fd.valid() ? 0 : -1;
  while (result == 0 && (result = ::flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) result = 0;
  if (result != 0) {
    if (error) *error = errno;
    if (message) *message = "cannot lock " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  fd_ = std::move(fd);
  return true;
}

}  // namespace kavi::win
