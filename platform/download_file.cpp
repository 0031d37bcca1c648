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
  if (fd_ >= 0) ::close(fd_);
}

bool PartFile::OpenAt(const std::filesystem::path& path, uint64_t offset) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  const off_t at = static_cast<off_t>(offset);
  return ::ftruncate(fd_, at) == 0 && ::lseek(fd_, at, SEEK_SET) == at;
}

bool PartFile::Append(std::string_view bytes) {
  const off_t start = ::lseek(fd_, 0, SEEK_CUR);
  const size_t length = bytes.size();
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  // Starts writing the chunk back now, while the next one arrives, so that the flush at Close
  // waits for the last chunks only rather than for the whole file.
  if (start >= 0) ::sync_file_range(fd_, start, static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
  return true;
}

bool PartFile::Close() {
  if (fd_ < 0) return true;
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
