// Reading a whole file of bounded size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kavi::win {

enum class ReadFileResult { kRead, kCannotOpen, kUnreadable };

// Reads the regular file at `path` whole into `bytes`, when it holds at most `max_bytes`.
// kCannotOpen when it cannot be opened; kUnreadable when it is not a regular file, is larger, or
// reading fails. `error` (when given) receives the system's error number of a failure.
ReadFileResult ReadRegularFile(const std::filesystem::path& path, uintmax_t max_bytes,
                               std::string* bytes, int* error = nullptr);

}  // namespace kavi::win
