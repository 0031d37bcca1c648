// SPDX-License-Identifier: Apache-2.0
#include "platform/memory_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kavi::win {

std::unique_ptr<MemoryFile> MemoryFile::Create(const std::string& name, std::string_view bytes,
                                               std::string* error) {
  const int fd = ::memfd_create(name.c_str(), MFD_CLOEXEC);
  if (fd < 0) {
    *error = std::string("memfd_create: ") + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<MemoryFile> file(new MemoryFile(fd));
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      *error = name + ": " + std::strerror(written < 0 ? errno : ENOSPC);
      return nullptr;
    }
    done += static_cast<size_t>(written);
  }
  return file;
}

MemoryFile::~MemoryFile() {
  ::close(fd_);
}

std::string MemoryFile::path() const {
  return "/proc/self/fd/" + std::to_string(fd_);
}

}  // namespace kavi::win
