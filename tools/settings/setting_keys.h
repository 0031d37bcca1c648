// SPDX-License-Identifier: Apache-2.0
// Every key of config.json and app_options.json as the settings program sees it: which page
// shows it, how its value is printed, which values it accepts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_record.h"

namespace kavi::win {

enum class SettingFile { kConfig, kAppOptions };

// What kind of value a key holds, which decides the control a page shows for it.
enum class SettingType {
  kSwitch,    // true | false
  kNumber,    // an integer from `min` to `max`
  kChoice,    // one of `choices()`
  kText,      // free text that `set` checks
  kReadOnly,  // shown, never set
};

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
  SettingType type = SettingType::kText;
  // kNumber: the range `set` accepts, which is also the range the server clamps a read value to.
  int32_t min = 0;
  int32_t max = 0;
  // kChoice: every value `set` accepts, in the order a list shows them.
  std::vector<std::string_view> (*choices)() = nullptr;
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
