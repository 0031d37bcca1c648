// SPDX-License-Identifier: Apache-2.0
// Creating the program's directories with explicit modes, whatever the umask: a process started
// with umask 000 must not leave directories that other users can write into.
#pragma once

#include <filesystem>
#include <string>

namespace kavi::win {

// The user's own data (dictionaries, settings, generations, locks): nobody else may look in.
inline constexpr std::filesystem::perms kPrivateDirectoryMode = std::filesystem::perms::owner_all;
inline constexpr std::filesystem::perms kPrivateFileMode =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

// Creates `dir` with `mode` when it does not exist yet; false (errno EEXIST) when it does, so a
// caller can claim a fresh name.
bool CreateDirectory(const std::filesystem::path& dir, std::filesystem::perms mode);

// Creates `dir` and each missing parent with `mode` (the umask may take bits away, never add
// them). Directories that exist keep their mode. False with a message naming the directory that
// could not be made; errno then tells why.
bool CreateDirectories(const std::filesystem::path& dir, std::filesystem::perms mode,
                       std::string* message);

}  // namespace kavi::win
