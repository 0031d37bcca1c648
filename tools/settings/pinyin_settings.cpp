// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/pinyin_settings.h"

#include <algorithm>
#include <vector>

#include "platform/file_read.h"
#include "platform/file_replace.h"

namespace kavi::win {
namespace {

// The options file is small; anything larger is not one.
constexpr uintmax_t kMaxFileBytes = 1 << 20;

std::filesystem::path OptionsFile(const std::filesystem::path& config_directory) {
  return config_directory / kUserPinyinOptionsFile;
}

}  // namespace

std::string AllowedFuzzy() {
  std::string text = "a comma-separated list (empty for none) of:";
  for (const FuzzySound& sound : FuzzySounds()) {
    text += " ";
    text += sound.name;
    text += " (";
    text += sound.label;
    text += ")";
  }
  return text;
}

bool ParseFuzzy(std::string_view text, UserPinyinOptions* options, std::string* reason) {
  UserPinyinOptions parsed;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    std::string_view name = text.substr(0, comma);
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (name.empty()) continue;
    if (!IsFuzzySound(name)) {
      *reason = "must be " + AllowedFuzzy();
      return false;
    }
    if (std::find(parsed.fuzzy.begin(), parsed.fuzzy.end(), name) == parsed.fuzzy.end()) {
      parsed.fuzzy.emplace_back(name);
    }
  }
  *options = std::move(parsed);
  return true;
}

std::string FuzzyText(const UserPinyinOptions& options) {
  std::string text;
  for (const std::string& name : options.fuzzy) {
    if (!text.empty()) text += ",";
    text += name;
  }
  return text;
}

UserPinyinOptions ReadPinyinSettings(const std::filesystem::path& config_directory,
                                     std::string* problem) {
  problem->clear();
  std::string bytes;
  UserPinyinOptions options;
  switch (ReadRegularFile(OptionsFile(config_directory), kMaxFileBytes, &bytes)) {
    case ReadFileResult::kRead:
      break;
    case ReadFileResult::kCannotOpen:
      if (!std::filesystem::exists(OptionsFile(config_directory))) return options;
      [[fallthrough]];
    case ReadFileResult::kUnreadable:
      *problem = "cannot read " + OptionsFile(config_directory).string();
      return options;
  }
  std::vector<std::string> left_out;  // the server reports them; the values shown skip them
  std::string message;
  if (!ParseUserPinyinOptions(bytes, &options, &left_out, &message)) {
    *problem = OptionsFile(config_directory).string() + ": " + message;
    return {};
  }
  return options;
}

bool WritePinyinSettings(const std::filesystem::path& config_directory,
                         const UserPinyinOptions& options, std::string* message) {
  std::error_code ignored;  // a directory that cannot be made fails the write below
  std::filesystem::create_directories(config_directory, ignored);
  ReplaceFailure failure;
  if (!ReplaceFile(OptionsFile(config_directory), UserPinyinOptionsText(options),
                   std::filesystem::perms(0600), &failure)) {
    *message = "cannot write " + OptionsFile(config_directory).string();
    return false;
  }
  message->clear();
  return true;
}

}  // namespace kavi::win
