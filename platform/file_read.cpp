// SPDX-License-Identifier: Apache-2.0
#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ipc.h"

namespace kavi::win {

namespace {

ReadFileResult Fail(ReadFileResult result, int* error, int value) {
  if (error != nullptr) *error = value;
  return result;
}

}  // namespace

ReadFileResult ReadRegularFile(const std::filesystem::path& path, uintmax_t max_bytes,
                               std::string* bytes, int* error) {
  bytes->clear();
  // Non-blocking, so that a FIFO or a device under the name fails the type check below instead of
  // waiting for a writer.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return Fail(ReadFileResult::kCannotOpen, error, errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return Fail(ReadFileResult::kUnreadable, error, errno);
  if (!S_ISREG(info.st_mode)) return Fail(ReadFileResult::kUnreadable, error, EINVAL);
  if (static_cast<uintmax_t>(info.st_size) > max_bytes)
    return Fail(ReadFileResult::kUnreadable, error, EFBIG);
  // The size read at the open is the size read: a file that shrinks meanwhile gives what is left.
  bytes->resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < bytes->size()) {
    ssize_t n = ::read(fd.get(), bytes->data() + done, bytes->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      bytes->clear();
      return Fail(ReadFileResult::kUnreadable, error, errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  bytes->resize(done);
  return ReadFileResult::kRead;
}

std::optional<FileStamp> StampFile(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileStamp{static_cast<uintmax_t>(info.st_dev), static_cast<uintmax_t>(info.st_ino),
                   static_cast<intmax_t>(info.st_size),
                   static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

}  // namespace kavi::win
