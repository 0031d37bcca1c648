// SPDX-License-Identifier: Apache-2.0
// Starting the server with the user's desktop session: the XDG autostart entry.
#pragma once

#include <filesystem>
#include <string>

namespace kavi::win {

inline constexpr char kAutostartEntryName[] = "kavi.desktop";

// $XDG_CONFIG_HOME/autostart, else ~/.config/autostart; empty when neither can be had.
std::filesystem::path AutostartFolder();

// The desktop entry that starts `program` (an absolute path) at login.
std::string AutostartEntry(const std::filesystem::path& program);

// Writes AutostartEntry(program) to autostart_dir/kavi.desktop, creating the folder and
// replacing an older entry atomically.
bool WriteAutostartEntry(const std::filesystem::path& autostart_dir,
                         const std::filesystem::path& program, std::string* message);

}  // namespace kavi::win
