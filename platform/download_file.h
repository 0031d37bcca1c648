// SPDX-License-Identifier: Apache-2.0
// The files of a download: the exclusive lock beside the target, the partial file that grows
// chunk by chunk, and the durable move of the finished file onto the target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace kavi::win {

// An advisory lock on a lock file, exclusive across threads and processes (each holder opens
// the file itself, so two threads of one process exclude each other too).
class DownloadLock {
 public:
  enum class Result { kLocked, kBusy, kFailed };

  DownloadLock() = default;
  ~DownloadLock();
  DownloadLock(const DownloadLock&) = delete;
  DownloadLock& operator=(const DownloadLock&) = delete;

  // Opens (creating) the lock file and tries to lock it without waiting. kBusy while another
  // holder has it.
  Result TryLock(const std::filesystem::path& path);
  void Unlock();

 private:
  int fd_ = -1;
};

// Chunks whose start, length and memory address are multiples of this are written straight to
// the disk (O_DIRECT): the download must be flushed before it is installed anyway, and a copy
// through the page cache that is then written back costs more time than the disk write itself.
inline constexpr size_t kPartFileDirectAlignment = 4096;

// The partial file, opened for appending at a given offset.
class PartFile {
 public:
  PartFile() = default;
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  // Opens or creates the file for writing (others may read it) and cuts it at `offset`.
  bool OpenAt(const std::filesystem::path& path, uint64_t offset);
  // Writes all bytes at the end: straight to the disk when aligned (see above), else through the
  // page cache with its write-back started at once.
  bool Append(std::string_view bytes);
  // Flushes to disk and closes; false when either fails.
  bool Close();

 private:
  bool AppendBuffered(std::string_view bytes);
  bool AppendDirect(std::string_view bytes);

  int fd_ = -1;
  int direct_fd_ = -1;  // the same file opened with O_DIRECT; -1 where the file system refuses
  uint64_t end_ = 0;
};

// Moves `from` onto `to`, replacing it, and flushes the file and its directory so that the move
// survives a crash.
bool MoveFileDurably(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace kavi::win
