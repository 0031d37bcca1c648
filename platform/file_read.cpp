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
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

}  // namespace kavi::win
