// SPDX-License-Identifier: Apache-2.0
// Reading, validating and writing the two configuration files, and recovering a torn pair from
// the last-good snapshot that the settings application keeps beside them.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "config/config_record.h"

namespace kavi::win {

inline constexpr char kConfigFileName[] = "config.json";
inline constexpr char kAppOptionsFileName[] = "app_options.json";
inline constexpr char kLastGoodSnapshotFileName[] = "last-good.snapshot";
inline constexpr char kLastGoodDirectoryName[] = "last-good";
// Between the text of config.json and that of app_options.json in the snapshot file.
inline constexpr std::string_view kSnapshotSeparator = "\n--KAVI-CONFIG-SNAPSHOT--\n";
// The directory name under the roaming application-data folder.
inline constexpr char kConfigDirectoryName[] = "Kavi";

namespace server {

// The configuration directory under the roaming application-data folder; "." when that folder
// could not be found (empty).
std::filesystem::path ConfigDirectoryIn(const std::filesystem::path& roaming_folder);

// The key scanner of the flat configuration files (not a JSON parser): the value after the
// first occurrence of "key" and a colon, either a JSON string (unescaped) or the raw token up to
// ',', '}' or a line end. False when there is no usable value.
bool FindConfigValue(std::string_view text, std::string_view key, std::string* value);

// Scans and validates both texts. On failure `out` is untouched and `message` says why.
bool ParseConfigTexts(std::string_view config_text, std::string_view app_options_text,
                      ConfigRecord* out, std::string* message);

// Reads both files of `directory` once. Neither file gives the defaults; only one fails.
bool ReadConfigFiles(const std::filesystem::path& directory, ConfigRecord* out,
                     std::string* message);

// Loads a consistent pair (equal config_version in both files), retrying a torn pair and
// finally restoring the live files from the last-good snapshot. On failure `out` is untouched.
bool LoadConfig(const std::filesystem::path& directory, ConfigRecord* out, std::string* message);
// The same with what happens between two attempts (LoadConfig sleeps 20 ms there).
bool LoadConfig(const std::filesystem::path& directory, ConfigRecord* out, std::string* message,
                const std::function<void()>& between_attempts);

// The file texts in the layout the settings application writes.
std::string FormatConfigFile(const EngineSettings& settings);
std::string FormatAppOptionsFile(const AppOptions& options);

}  // namespace server
}  // namespace kavi::win
