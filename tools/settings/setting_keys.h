// SPDX-License-Identifier: Apache-2.0
// Every key of config.json and app_options.json as the settings program sees it: which page
// shows it, how its value is printed, which values it accepts.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "config/config_record.h"

namespace kavi::win {

enum class SettingFile { kConfig, kAppOptions };

struct SettingKey {
  std::string_view name;
  SettingFile file;
  std::string_view page;
  // The value as it appears on the command line and in --list.
  std::string (*get)(const ConfigRecord& record);
  // Checks `text` and stores it; false (and nothing stored) when it is invalid, with the reason
  // as it follows the key's name ("must be true or false").
  bool (*set)(std::string_view text, ConfigRecord* record, std::string* reason);
  // What the key accepts, for the pages and for error messages.
  std::string (*allowed)();
};

struct SettingsPage {
  std::string_view name;
  std::string_view title;
};

// In file order: config.json's keys, then app_options.json's; config_version (the same in
// both files after a consistent load) once.
std::span<const SettingKey> SettingKeys();
const SettingKey* FindSettingKey(std::string_view name);

// The pages of --page=NAME that list keys (the about and account pages list none).
std::span<const SettingsPage> SettingsPages();

}  // namespace kavi::win
