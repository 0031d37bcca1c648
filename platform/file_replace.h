// SPDX-License-Identifier: Apache-2.0
// Replacing a file so that a reader sees either the old or the new content, never a mix, and a
// crash at any moment leaves one of the two whole on disk.
//
// Every file the program owns goes through ReplaceFile: the user dictionaries and their sync
// copies, the configuration pair, the data generations' markers, the profile registry, the
// autostart entry. The system calls under it pass through one FileSystemSeam, so a test can fail,
// delay or end the process at any step of any of those writes.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace kavi::win {

// The steps of a replacement, in order; kNone when none failed.
enum class AtomicWriteStep { kNone, kCreate, kWrite, kFlush, kRename, kSyncDirectory };

// The system calls of a replacement. The default forwards each to the kernel; a test derives
// from it to fail, delay or stop at one step. Each returns what the system call returns, with
// errno set on failure.
class FileSystemSeam {
 public:
  virtual ~FileSystemSeam() = default;
  // Opening (creating) the temporary file; the result is a descriptor or -1.
  virtual int Create(const char* path, int flags, mode_t mode);
  virtual ssize_t Write(int fd, const void* data, size_t size);
  // fsync of the temporary file.
  virtual int Flush(int fd);
  virtual int Rename(const char* from, const char* to);
  // fsync of the directory after the rename, which makes the rename itself durable.
  virtual int SyncDirectory(int fd);
};

// Routes every replacement in the process through `seam` while the object lives.
class ScopedFileSystemSeam {
 public:
  explicit ScopedFileSystemSeam(FileSystemSeam* seam);
  ~ScopedFileSystemSeam();
  ScopedFileSystemSeam(const ScopedFileSystemSeam&) = delete;
  ScopedFileSystemSeam& operator=(const ScopedFileSystemSeam&) = delete;

 private:
  FileSystemSeam* previous_;
};

// The step that failed and the system's error number for it.
struct ReplaceFailure {
  AtomicWriteStep step = AtomicWriteStep::kNone;
  int error = 0;
};

// Writes `bytes` to target + ".tmp", flushes it to disk, renames it over the target and flushes
// the directory. The file never gets more permissions than `permissions` (less when the umask
// takes some away), whatever a stale temporary file had. On failure the temporary file is
// removed and `failure` (when given) says which step failed: before the rename the target keeps
// its old content; after it (kSyncDirectory) the target holds the new content, which a power
// loss might still undo. While another process or thread is writing the same target, the
// creation fails at once.
bool ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                 std::filesystem::perms permissions, ReplaceFailure* failure);
// The same with the temporary file named target + `temporary_suffix` (".part" for the files of
// a download, which must not collide with the ".tmp" of another writer).
bool ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                 std::filesystem::perms permissions, std::string_view temporary_suffix,
                 ReplaceFailure* failure);

// Moves the file `from` onto `to`, replacing it, and flushes both directories so that the move
// survives a crash (kRename or kSyncDirectory on failure). For files that are already whole on
// disk, such as a verified download committed into place or a backup moved aside.
bool MoveFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                       ReplaceFailure* failure);

enum class CreateOnceResult { kCreated, kExisted, kFailed };

// Creates `target` with `bytes` unless it exists, so that two processes racing to create it
// agree on one content: the bytes go to a temporary file of this process, are flushed, and the
// file is linked in under the target's name, which fails when the name is taken. The target
// never appears half-written. kFailed leaves `error` (when given) set to the system's error
// number.
CreateOnceResult CreateFileOnce(const std::filesystem::path& target, std::string_view bytes,
                                std::filesystem::perms permissions, int* error);

}  // namespace kavi::win
