#include "config/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kavi::win {

namespace {

constexpr char kCreateFailed[] = "無法建立暫存配置";
constexpr char kReplaceFailed[] = "原子更新配置失敗";

thread_local AtomicWriteStep injected_fault = AtomicWriteStep::kNone;

bool Injected(AtomicWriteStep step) {
  return injected_fault == step;
}

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Opens the temporary file for writing, alone: another writer of the same target (the settings
// program saving while the server restores) holds a lock on it until it has renamed it away.
// After the lock, the name must still lead to the locked file; otherwise the other writer
// renamed it onto the target in between, and writing to it would write to the live file.
int OpenExclusively(const std::filesystem::path& temporary) {
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return -1;
  struct stat opened, named;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &opened) != 0 ||
      ::stat(temporary.c_str(), &named) != 0 || opened.st_ino != named.st_ino ||
      opened.st_dev != named.st_dev) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Makes the rename itself durable; the file is already in place, so a failure here is not one
// of the write.
void FlushDirectory(const std::filesystem::path& directory) {
  int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

ScopedAtomicWriteFault::ScopedAtomicWriteFault(AtomicWriteStep step) : previous_(injected_fault) {
  injected_fault = step;
}

ScopedAtomicWriteFault::~ScopedAtomicWriteFault() {
  injected_fault = previous_;
}

namespace server {

bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::string* message) {
  if (message != nullptr) message->clear();
  std::filesystem::path temporary = target;
  temporary += ".tmp";
  const int fd = Injected(AtomicWriteStep::kCreate) ? -1 : OpenExclusively(temporary);
  if (fd < 0) {
    if (message != nullptr) *message = kCreateFailed;
    return false;
  }
  bool ok = ::ftruncate(fd, 0) == 0;
  ok = ok && !Injected(AtomicWriteStep::kWrite) && WriteAll(fd, bytes);
  ok = ok && !Injected(AtomicWriteStep::kFlush) && ::fsync(fd) == 0;
  ok = ok && !Injected(AtomicWriteStep::kRename) &&
       std::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  // Closing releases the lock only now, after the rename or the removal.
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    if (message != nullptr) *message = kReplaceFailed;
    return false;
  }
  FlushDirectory(target.parent_path());
  return true;
}

}  // namespace server
}  // namespace kavi::win
