// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/settings_store.h"

#include "config/config_files.h"
#include "config/settings_lock.h"
#include "net/service_endpoints.h"
#include "tools/settings/endpoint_settings.h"
#include "tools/settings/pinyin_settings.h"
#include "tools/settings/settings_writer.h"
#include "tools/settings/theme_choices.h"

namespace kavi::win {

namespace {

constexpr char kThemeKey[] = "theme";

ApplyOutcome Failure(ApplyOutcome::Status status, std::string message, ConfigRecord record = {}) {
  ApplyOutcome outcome;
  outcome.status = status;
  outcome.message = std::move(message);
  outcome.record = std::move(record);
  return outcome;
}

}  // namespace

SettingEdit SetKeyEdit(const SettingKey& key, std::string value) {
  return [&key, value = std::move(value)](ConfigRecord* record, std::string* message) {
    std::string reason;
    if (key.set(value, record, &reason)) return true;
    *message = std::string(key.name) + " " + reason + ", not \"" + value + "\"";
    return false;
  };
}

SettingEdit ToggleTraditionalEdit() {
  return [](ConfigRecord* r, std::string*) {
    r->engine.charset = r->engine.charset == EngineSettings::kSimplifiedCharset ? "zht" : "zhs";
    return true;
  };
}

SettingEdit ToggleMixedEnglishEdit() {
  return [](ConfigRecord* r, std::string*) {
    r->engine.melt_english = !r->engine.melt_english;
    return true;
  };
}

SettingEdit ToggleKeySoundEdit() {
  return [](ConfigRecord* r, std::string*) {
    r->app.key_sound = !r->app.key_sound;
    return true;
  };
}

SettingsStore::SettingsStore(std::filesystem::path directory) : directory_(std::move(directory)) {}

bool SettingsStore::Load(ConfigRecord* record, std::string* message) const {
  return server::LoadConfig(directory_, record, message);
}

ApplyOutcome SettingsStore::Apply(const SettingsChange& change) const {
  using Status = ApplyOutcome::Status;
  std::string message;
  // The whole read-change-write cycle holds the lock: a second writer waits and then edits
  // what this one saved, and the server's reload waits for the pair to be whole.
  SettingsLock lock;
  if (!lock.Acquire(directory_, &message)) return Failure(Status::kFileError, message);
  ConfigRecord record;
  if (!server::LoadConfig(directory_, &record, &message)) {
    return Failure(Status::kFileError,
                   "cannot read the configuration in " + directory_.string() + ": " + message);
  }
  for (const auto& [name, value] : change.endpoints) {
    std::string reason;
    if (!CheckEndpointValue(name, value, &reason))
      return Failure(Status::kRefused, name + " " + reason + ", not \"" + value + "\"", record);
  }
  UserPinyinOptions pinyin;
  if (change.fuzzy) {
    std::string reason;
    if (!ParseFuzzy(*change.fuzzy, &pinyin, &reason)) {
      return Failure(Status::kRefused,
                     std::string(kFuzzyKey) + " " + reason + ", not \"" + *change.fuzzy + "\"",
                     record);
    }
  }

  ApplyOutcome outcome;
  outcome.record = record;
  if (!change.edits.empty()) {
    ConfigRecord edited = record;
    for (const SettingEdit& edit : change.edits) {
      if (!edit(&edited, &message)) return Failure(Status::kRefused, message, record);
    }
    // The server cannot draw a theme that is not installed: it would fall back to "native"
    // silently. A theme left as it was is not checked again.
    std::string reason;
    if (edited.app.theme != record.app.theme &&
        !ThemeChoices(InstalledThemesDirectory(), UserThemesDirectory(directory_))
             .Check(edited.app.theme, &reason)) {
      return Failure(Status::kRefused,
                     std::string(kThemeKey) + " " + reason + ", not \"" + edited.app.theme + "\"",
                     record);
    }
    if (!SaveSettings(directory_, &edited, &message))
      return Failure(Status::kFileError, message, record);
    for (const SettingKey& key : SettingKeys()) {
      if (key.get(edited) != key.get(record))
        outcome.changed.emplace_back(std::string(key.name), key.get(edited));
    }
    outcome.record = edited;
  }
  for (const auto& [name, value] : change.endpoints) {
    if (!SetUserEndpoint(UserEndpointsFile(directory_), name, value, &message)) {
      // The pair may already be saved: what changed there is still reported.
      outcome.status = Status::kFileError;
      outcome.message = message;
      return outcome;
    }
  }
  if (!change.endpoints.empty()) {
    for (const auto& [name, value] : EndpointSettings(directory_)) {
      for (const auto& set : change.endpoints) {
        if (set.first == name) outcome.changed.emplace_back(name, value);
      }
    }
  }
  if (change.fuzzy) {
    if (!WritePinyinSettings(directory_, pinyin, &message)) {
      outcome.status = Status::kFileError;
      outcome.message = message;
      return outcome;
    }
    outcome.changed.emplace_back(std::string(kFuzzyKey), FuzzyText(pinyin));
  }
  return outcome;
}

ApplyOutcome SettingsStore::Set(const std::string& key, const std::string& value) const {
  SettingsChange change;
  if (IsEndpointKey(key)) {
    change.endpoints.emplace_back(key, value);
  } else if (key == kFuzzyKey) {
    change.fuzzy = value;
  } else if (const SettingKey* found = FindSettingKey(key)) {
    change.edits.push_back(SetKeyEdit(*found, value));
  } else {
    return Failure(ApplyOutcome::Status::kRefused, "unknown key \"" + key + "\"");
  }
  return Apply(change);
}

std::vector<std::pair<std::string, std::string>> SettingsStore::Endpoints() const {
  return EndpointSettings(directory_);
}

UserPinyinOptions SettingsStore::PinyinOptions(std::string* problem) const {
  return ReadPinyinSettings(directory_, problem);
}

}  // namespace kavi::win
