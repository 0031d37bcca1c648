// SPDX-License-Identifier: Apache-2.0
#include "platform/download_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

namespace kavi::win {
namespace {

bool SyncPath(const std::filesystem::path& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

// Writes all of `bytes` at `offset`.
bool WriteAllAt(int fd, std::string_view bytes, uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
    offset += static_cast<uint64_t>(written);
  }
  return true;
}

bool Aligned(uint64_t value) {
  return value % kPartFileDirectAlignment == 0;
}

}  // namespace

DownloadLock::~DownloadLock() {
  Unlock();
}

DownloadLock::Result DownloadLock::TryLock(const std::filesystem::path& path) {
  Unlock();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return Result::kFailed;
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Result::kLocked;
  const int error = errno;
  ::close(fd_);
  fd_ = -1;
  return error == EWOULDBLOCK ? Result::kBusy : Result::kFailed;
}

void DownloadLock::Unlock() {
  if (fd_ < 0) return;
  ::close(fd_);  // releases the lock
  fd_ = -1;
}

PartFile::~PartFile() {
  if (direct_fd_ >= 0) ::close(direct_fd_);
  if (fd_ >= 0) ::close(fd_);
}

bool PartFile::OpenAt(const std::filesystem::path& path, uint64_t offset) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  if (::ftruncate(fd_, static_cast<off_t>(offset)) != 0) return false;
  end_ = offset;
  direct_fd_ = ::open(path.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
  return true;
}

bool PartFile::Append(std::string_view bytes) {
  if (direct_fd_ >= 0 && Aligned(end_) && Aligned(bytes.size()) &&
      Aligned(reinterpret_cast<uintptr_t>(bytes.data())))
    return AppendDirect(bytes);
  return AppendBuffered(bytes);
}

bool PartFile::AppendDirect(std::string_view bytes) {
  if (!WriteAllAt(direct_fd_, bytes, end_)) {
    // A file system that takes O_DIRECT at open but not for this write: through the page cache
    // from now on (what a failed direct write left is written over).
    if (errno != EINVAL) return false;
    ::close(direct_fd_);
    direct_fd_ = -1;
    return AppendBuffered(bytes);
  }
  end_ += bytes.size();
  return true;
}

bool PartFile::AppendBuffered(std::string_view bytes) {
  if (!WriteAllAt(fd_, bytes, end_)) return false;
  // Starts writing the chunk back now, while the next one arrives, so that the flush at Close
  // waits for the last chunks only rather than for the whole file.
  ::sync_file_range(fd_, static_cast<off_t>(end_), static_cast<off_t>(bytes.size()),
                    SYNC_FILE_RANGE_WRITE);
  end_ += bytes.size();
  return true;
}

bool PartFile::Close() {
  if (fd_ < 0) return true;
  if (direct_fd_ >= 0) ::close(direct_fd_);
  direct_fd_ = -1;
  // One inode: this flushes what either descriptor wrote, and the disk's write cache.
  const bool synced = ::fsync(fd_) == 0;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  return synced && closed;
}

bool MoveFileDurably(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!SyncPath(from, O_RDONLY)) return false;
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  std::filesystem::path directory = to.parent_path();
  if (directory.empty()) directory = ".";
  return SyncPath(directory, O_RDONLY | O_DIRECTORY);
}

}  // namespace kavi::win
