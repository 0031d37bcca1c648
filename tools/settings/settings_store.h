// SPDX-License-Identifier: Apache-2.0
// Changing the user's settings the one way every part of KaviSettings does it: under the
// settings lock, read the current pair, check and apply the changes, and save the pair, so that
// the server's watcher reloads it. The command line and the window both go through here.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/config_record.h"
#include "ovra/pinyin_options.h"
#include "tools/settings/setting_keys.h"

namespace kavi::win {

// One change to the record; false (and a message for the user) when it cannot be made.
using SettingEdit = std::function<bool(ConfigRecord* record, std::string* message)>;

// Sets one key from its text; the message names the key, why and the refused value.
SettingEdit SetKeyEdit(const SettingKey& key, std::string value);
// The toolbar's toggles.
SettingEdit ToggleTraditionalEdit();
SettingEdit ToggleMixedEnglishEdit();
SettingEdit ToggleKeySoundEdit();

struct SettingsChange {
  std::vector<SettingEdit> edits;
  // The endpoint keys (service_base_url, ...) with their new values; an empty value restores the
  // shipped default.
  std::vector<std::pair<std::string, std::string>> endpoints;
  // The fuzzy sounds' new value (see pinyin_settings.h), kept in the pinyin options file.
  std::optional<std::string> fuzzy;

  bool empty() const { return edits.empty() && endpoints.empty() && !fuzzy; }
};

struct ApplyOutcome {
  enum class Status {
    kApplied,
    kRefused,    // an invalid value: nothing was written
    kFileError,  // the files could not be locked, read or written
  };
  Status status = Status::kApplied;
  std::string message;
  // What changed, as KEY and VALUE: the keys of the two files in file order (config_version
  // first), then the endpoint keys that were set, with their effective values, then fuzzy.
  std::vector<std::pair<std::string, std::string>> changed;
  // The settings as saved (or as read, when nothing was written).
  ConfigRecord record;

  bool ok() const { return status == Status::kApplied; }
};

class SettingsStore {
 public:
  explicit SettingsStore(std::filesystem::path directory);

  const std::filesystem::path& directory() const { return directory_; }

  // Reads the current settings without the lock (a reader creates nothing).
  bool Load(ConfigRecord* record, std::string* message) const;

  // All or nothing: every value is checked before anything is written. A theme that was changed
  // must be one the server can draw (see ThemeChoices).
  ApplyOutcome Apply(const SettingsChange& change) const;

  // Sets one key of either file, of the endpoints or the fuzzy sounds, by name.
  ApplyOutcome Set(const std::string& key, const std::string& value) const;

  // The endpoint keys' effective values, in key order.
  std::vector<std::pair<std::string, std::string>> Endpoints() const;

  // The user's pinyin options; `problem` says why a file present was not usable.
  UserPinyinOptions PinyinOptions(std::string* problem) const;

 private:
  std::filesystem::path directory_;
};

}  // namespace kavi::win
