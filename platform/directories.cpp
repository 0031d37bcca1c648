// SPDX-License-Identifier: Apache-2.0
#include "platform/directories.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace kavi::win {

bool CreateDirectory(const std::filesystem::path& dir, std::filesystem::perms mode) {
  return ::mkdir(dir.c_str(), static_cast<mode_t>(mode) & 07777) == 0;
}

bool CreateDirectories(const std::filesystem::path& dir, std::filesystem::perms mode,
                       std::string* message) {
  std::filesystem::path partial;
  for (const std::filesystem::path& part : dir) {
    partial /= part;
    if (::mkdir(partial.c_str(), static_cast<mode_t>(mode) & 07777) == 0 || errno == EEXIST) {
      continue;
    }
    const int error = errno;
    if (message) *message = "cannot create " + partial.string() + ": " + std::strerror(error);
    errno = error;
    return false;
  }
  struct stat info;
  if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    if (message) *message = dir.string() + " is not a directory";
    errno = ENOTDIR;
    return false;
  }
  if (message) message->clear();
  return true;
}

}  // namespace kavi::win
