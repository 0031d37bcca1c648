// SPDX-License-Identifier: Apache-2.0
// Reading a whole file of bounded size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kavi::win {

enum class ReadFileResult { kRead, kCannotOpen, kUnreadable };

// Reads the regular file at `path` whole into `bytes`, when it holds at most `max_bytes`.
// kCannotOpen when it cannot be opened; kUnreadable when it is not a regular file, is larger, or
// reading fails. A FIFO or a device under the name never blocks the call. `error` (when given)
// receives the system's error number of a failure.
ReadFileResult ReadRegularFile(const std::filesystem::path& path, uintmax_t max_bytes,
                               std::string* bytes, int* error = nullptr);

// Which file a name led to at one moment: a replacement (by this process or another writer) gives
// another stamp.
struct FileStamp {
  uintmax_t device = 0;
  uintmax_t inode = 0;
  intmax_t size = 0;
  int64_t modified_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file the path leads to now; nullopt when there is none.
std::optional<FileStamp> StampFile(const std::filesystem::path& path);

}  // namespace kavi::win
