// SPDX-License-Identifier: Apache-2.0
// Reading the members of a service's JSON configuration file, each checked for its type and
// range, with a message that names the member at fault. Relative paths are taken from the
// file's folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "config/json.h"

namespace kavi::service {

inline constexpr uintmax_t kMaxConfigFileBytes = 1 << 20;

// Each reader leaves the output as it was when the member is absent, and returns false with the
// message when it is present but wrong.
class ConfigReader {
 public:
  ConfigReader(const win::JsonValue& root, const std::filesystem::path& base, std::string* error)
      : root_(root), base_(base), error_(error) {}

  bool Text(std::string_view key, std::string* out) {
    const win::JsonValue* member = win::server::FindJsonMember(root_, key);
    if (member == nullptr) return true;
    if (!member->is_string()) return Bad(key, "a string");
    *out = member->string;
    return true;
  }
  bool Path(std::string_view key, std::filesystem::path* out) {
    std::string text;
    if (!Text(key, &text)) return false;
    if (!text.empty()) *out = Resolve(text);
    return true;
  }
  bool Number(std::string_view key, int64_t min, int64_t max, int64_t* out) {
    const win::JsonValue* member = win::server::FindJsonMember(root_, key);
    if (member == nullptr) return true;
    int64_t value = 0;
    if (!win::server::GetJsonInt64(root_, key, &value) || value < min || value > max)
      return Bad(key, "an integer from " + std::to_string(min) + " to " + std::to_string(max));
    *out = value;
    return true;
  }
  bool Flag(std::string_view key, bool* out) {
    const win::JsonValue* member = win::server::FindJsonMember(root_, key);
    if (member == nullptr) return true;
    if (!member->is_boolean()) return Bad(key, "true or false");
    *out = member->boolean;
    return true;
  }
  std::filesystem::path Resolve(const std::string& text) const {
    const std::filesystem::path path(text);
    return path.is_absolute() ? path : base_ / path;
  }
  bool Bad(std::string_view key, const std::string& what) {
    *error_ = "\"" + std::string(key) + "\" must be " + what;
    return false;
  }

 private:
  const win::JsonValue& root_;
  const std::filesystem::path base_;
  std::string* error_;
};

}  // namespace kavi::service
