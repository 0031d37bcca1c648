// SPDX-License-Identifier: Apache-2.0
// The settings program's command line: the switches the toolbar and tray start it with, plus
// --set, --get and --list over every key of the two configuration files.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace kavi::win {

// Exit codes of KaviSettings.
inline constexpr int kSettingsOk = 0;
// The configuration could not be read or written.
inline constexpr int kSettingsFileError = 1;
// An unknown switch, key or page, or an invalid value: nothing was changed.
inline constexpr int kSettingsUsageError = 2;
// The request needs a display (the translation popup without one).
inline constexpr int kSettingsNeedsDisplay = 3;

// Runs one command line (without the program name). `default_directory` is used unless
// --config-dir names another.
int RunSettingsCommand(const std::vector<std::string>& args,
                       const std::filesystem::path& default_directory, std::ostream& out,
                       std::ostream& err);

}  // namespace kavi::win
