#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/ipc.h"

namespace kavi::win {

namespace {

thread_local AtomicWriteStep injected_fault = AtomicWriteStep::kNone;

bool Injected(AtomicWriteStep step) {
  return step != AtomicWriteStep::kNone && injected_fault == step;
}

// An injected failure reports EIO, as a failing disk would.
constexpr int kInjectedError = EIO;

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Opens the temporary file for writing, alone: another writer of the same target (another
// process, or another thread) holds a lock on it until it has renamed it away.
// After the lock, the name must still lead to the locked file; otherwise the other writer
// renamed it onto the target in between, and writing to it would write to the live file.
UniqueFd OpenExclusively(const std::filesystem::path& temporary, std::filesystem::perms permissions,
                         int* error) {
  UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                     static_cast<mode_t>(permissions)));
  if (!fd.valid()) {
    *error = errno;
    return fd;
  }
  struct stat opened, named;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &opened) != 0 ||
      ::stat(temporary.c_str(), &named) != 0) {
    *error = errno;
    fd.reset();
  } else if (opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
    *error = EWOULDBLOCK;
    fd.reset();
  }
  return fd;
}

// Makes the rename itself durable; the file is already in place, so a failure here is not one
// of the write.
void FlushDirectory(const std::filesystem::path& directory) {
  UniqueFd fd(
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

bool Fail(ReplaceFailure* failure, AtomicWriteStep step, int error) {
  if (failure != nullptr) *failure = {step, error};
  return false;
}

}  // namespace

ScopedAtomicWriteFault::ScopedAtomicWriteFault(AtomicWriteStep step) : previous_(injected_fault) {
  injected_fault = step;
}

ScopedAtomicWriteFault::~ScopedAtomicWriteFault() {
  injected_fault = previous_;
}

bool ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                 std::filesystem::perms permissions, ReplaceFailure* failure) {
  if (failure != nullptr) *failure = {};
  std::filesystem::path temporary = target;
  temporary += ".tmp";
  if (Injected(AtomicWriteStep::kCreate))
    return Fail(failure, AtomicWriteStep::kCreate, kInjectedError);
  int error = 0;
  UniqueFd fd = OpenExclusively(temporary, permissions, &error);
  if (!fd.valid()) return Fail(failure, AtomicWriteStep::kCreate, error);

  // The file may be a stale one left by a crash: it is emptied only once it is ours.
  AtomicWriteStep failed = AtomicWriteStep::kNone;
  if (Injected(AtomicWriteStep::kWrite) || ::ftruncate(fd.get(), 0) != 0 ||
      !WriteAll(fd.get(), bytes)) {
    failed = AtomicWriteStep::kWrite;
  } else if (Injected(AtomicWriteStep::kFlush) || ::fsync(fd.get()) != 0) {
    failed = AtomicWriteStep::kFlush;
  } else if (Injected(AtomicWriteStep::kRename) ||
             std::rename(temporary.c_str(), target.c_str()) != 0) {
    failed = AtomicWriteStep::kRename;
  }
  if (failed != AtomicWriteStep::kNone) {
    error = Injected(failed) ? kInjectedError : errno;
    ::unlink(temporary.c_str());
  }
  // Closing releases the lock only now, after the rename or the removal.
  if (::close(fd.release()) != 0 && failed == AtomicWriteStep::kNone) {
    error = errno;
    failed = AtomicWriteStep::kFlush;
  }
  if (failed != AtomicWriteStep::kNone) return Fail(failure, failed, error);
  FlushDirectory(target.parent_path());
  return true;
}

}  // namespace kavi::win
