// SPDX-License-Identifier: Apache-2.0
// The user's folders and the program's own location.
#pragma once

#include <filesystem>

namespace kavi::win {

// Roaming application data: $XDG_CONFIG_HOME, else ~/.config. Empty when neither can be had.
std::filesystem::path RoamingAppDataFolder();
// Local application data: $XDG_DATA_HOME, else ~/.local/share. Empty when neither can be had.
std::filesystem::path LocalAppDataFolder();
// The folder that holds the running program file.
std::filesystem::path ProgramFolder();
// The folder that holds the shipped files ("data", "sounds"): the program's own folder when
// they lie beside it (a build tree, or a folder copied as a whole), else the installed share
// folder: <prefix>/lib/kavi/KaviServer reads <prefix>/share/kavi/.
std::filesystem::path ShippedFilesFolder();
// The full path of the running program file.
std::filesystem::path ProgramPath();

}  // namespace kavi::win
