// SPDX-License-Identifier: Apache-2.0
#include "platform/sequential_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace kavi::win {

SequentialFile::~SequentialFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool SequentialFile::Open(const std::filesystem::path& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

long SequentialFile::Read(void* buffer, size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, size);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

}  // namespace kavi::win
