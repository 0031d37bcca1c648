// SPDX-License-Identifier: Apache-2.0
#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/ipc.h"

namespace kavi::win {

namespace {

FileSystemSeam& SystemSeam() {
  static FileSystemSeam seam;
  return seam;
}

std::atomic<FileSystemSeam*> installed_seam{nullptr};

FileSystemSeam& Seam() {
  FileSystemSeam* seam = installed_seam.load();
  return seam != nullptr ? *seam : SystemSeam();
}

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = Seam().Write(fd, bytes.data() + done, bytes.size() - done);
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
  const mode_t mode = static_cast<mode_t>(permissions) & 07777;
  UniqueFd fd(Seam().Create(temporary.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode));
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
  } else if ((opened.st_mode & 07777 & ~mode) != 0 &&
             ::fchmod(fd.get(), opened.st_mode & 07777 & mode) != 0) {
    // A temporary file left by a crash keeps its mode; it must not carry more than ours.
    *error = errno;
    fd.reset();
  }
  return fd;
}

// Flushes the directory that holds `file`, which makes a rename into or out of it durable.
bool SyncParentDirectory(const std::filesystem::path& file) {
  const std::filesystem::path directory = file.parent_path();
  UniqueFd dir(
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir.valid() && Seam().SyncDirectory(dir.get()) == 0;
}

bool Fail(ReplaceFailure* failure, AtomicWriteStep step, int error) {
  if (failure != nullptr) *failure = {step, error};
  return false;
}

}  // namespace

int FileSystemSeam::Create(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

ssize_t FileSystemSeam::Write(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}

int FileSystemSeam::Flush(int fd) {
  return ::fsync(fd);
}

int FileSystemSeam::Rename(const char* from, const char* to) {
  return ::rename(from, to);
}

int FileSystemSeam::SyncDirectory(int fd) {
  return ::fsync(fd);
}

ScopedFileSystemSeam::ScopedFileSystemSeam(FileSystemSeam* seam)
    : previous_(installed_seam.exchange(seam)) {}

ScopedFileSystemSeam::~ScopedFileSystemSeam() {
  installed_seam.store(previous_);
}

bool ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                 std::filesystem::perms permissions, ReplaceFailure* failure) {
  return ReplaceFile(target, bytes, permissions, ".tmp", failure);
}

bool ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                 std::filesystem::perms permissions, std::string_view temporary_suffix,
                 ReplaceFailure* failure) {
  if (failure != nullptr) *failure = {};
  std::filesystem::path temporary = target;
  temporary += temporary_suffix;
  int error = 0;
  UniqueFd fd = OpenExclusively(temporary, permissions, &error);
  if (!fd.valid()) return Fail(failure, AtomicWriteStep::kCreate, error);

  // The file may be a stale one left by a crash: it is emptied only once it is ours.
  AtomicWriteStep failed = AtomicWriteStep::kNone;
  if (::ftruncate(fd.get(), 0) != 0 || !WriteAll(fd.get(), bytes)) {
    failed = AtomicWriteStep::kWrite;
  } else if (Seam().Flush(fd.get()) != 0) {
    failed = AtomicWriteStep::kFlush;
  } else if (Seam().Rename(temporary.c_str(), target.c_str()) != 0) {
    failed = AtomicWriteStep::kRename;
  }
  if (failed != AtomicWriteStep::kNone) {
    error = errno;
    ::unlink(temporary.c_str());
  }
  // Closing releases the lock only now, after the rename or the removal.
  if (::close(fd.release()) != 0 && failed == AtomicWriteStep::kNone) {
    error = errno;
    failed = AtomicWriteStep::kFlush;
  }
  if (failed != AtomicWriteStep::kNone) return Fail(failure, failed, error);

  if (!SyncParentDirectory(target)) return Fail(failure, AtomicWriteStep::kSyncDirectory, errno);
  return true;
}

bool MoveFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                       ReplaceFailure* failure) {
  if (failure != nullptr) *failure = {};
  if (Seam().Rename(from.c_str(), to.c_str()) != 0)
    return Fail(failure, AtomicWriteStep::kRename, errno);
  if (!SyncParentDirectory(to) ||
      (from.parent_path() != to.parent_path() && !SyncParentDirectory(from)))
    return Fail(failure, AtomicWriteStep::kSyncDirectory, errno);
  return true;
}

CreateOnceResult CreateFileOnce(const std::filesystem::path& target, std::string_view bytes,
                                std::filesystem::perms permissions, int* error) {
  std::filesystem::path temporary = target;
  temporary += ".new." + std::to_string(::getpid());
  const mode_t mode = static_cast<mode_t>(permissions) & 07777;
  ::unlink(temporary.c_str());  // a leftover of a crashed process that had this id
  UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
  bool written = fd.valid() && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  int failure = written ? 0 : errno;
  CreateOnceResult result = CreateOnceResult::kFailed;
  if (written) {
    if (::link(temporary.c_str(), target.c_str()) == 0) {
      result = CreateOnceResult::kCreated;
    } else if (errno == EEXIST) {
      result = CreateOnceResult::kExisted;
    } else {
      failure = errno;
    }
  }
  if (fd.valid()) ::unlink(temporary.c_str());
  if (result == CreateOnceResult::kCreated) {
    const std::filesystem::path directory = target.parent_path();
    UniqueFd dir(
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
  }
  if (result == CreateOnceResult::kFailed && error != nullptr) *error = failure;
  return result;
}

}  // namespace kavi::win
