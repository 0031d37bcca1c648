// SPDX-License-Identifier: Apache-2.0
#include "platform/profiles/profile_registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "platform/directories.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "platform/instance_lock.h"

namespace kavi::win {
namespace fs = std::filesystem;

namespace {

constexpr char kInputLanguagesFile[] = "input-languages";
constexpr char kEnabledFile[] = "enabled";
constexpr char kDefaultFile[] = "default";
constexpr char kCurrentLanguageFile[] = "current-language";
constexpr char kActiveFile[] = "active";
constexpr char kLockFile[] = ".lock";

using Lines = std::vector<std::string>;

bool Failed(int* error, int value) {
  if (error) *error = value;
  return false;
}

bool MakeDirectory(const fs::path& dir, int* error) {
  if (CreateDirectories(dir, kPrivateDirectoryMode, nullptr)) return true;
  return Failed(error, errno);
}

// Reads a file's lines; a missing file has none.
bool ReadLines(const fs::path& file, Lines* lines, int* error) {
  lines->clear();
  std::string text;
  int read_error = 0;
  switch (ReadRegularFile(file, std::numeric_limits<uintmax_t>::max(), &text, &read_error)) {
    case ReadFileResult::kRead:
      break;
    case ReadFileResult::kCannotOpen:
      return read_error == ENOENT ? true : Failed(error, read_error);
    case ReadFileResult::kUnreadable:
      return Failed(error, read_error);
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines->push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

// Replaces the file with the lines.
bool WriteLines(const fs::path& file, const Lines& lines, int* error) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  ReplaceFailure failure;
  if (!ReplaceFile(file, text, kPrivateFileMode, &failure))
    return Failed(error, failure.error);
  return true;
}

// Holds the registry's lock while one file is read, changed and written back.
bool Update(const fs::path& dir, const char* name, const std::function<void(Lines*)>& change,
            int* error) {
  if (!MakeDirectory(dir, error)) return false;
  InstanceLock lock;
  if (!lock.AcquireWaiting(dir / kLockFile, nullptr, error)) return false;
  Lines lines;
  if (!ReadLines(dir / name, &lines, error)) return false;
  Lines before = lines;
  change(&lines);
  return lines == before || WriteLines(dir / name, lines, error);
}

void Remove(Lines* lines, std::string_view line) {
  lines->erase(std::remove(lines->begin(), lines->end(), line), lines->end());
}

void AddLast(Lines* lines, std::string_view line) {
  if (std::find(lines->begin(), lines->end(), line) == lines->end()) lines->emplace_back(line);
}

std::string LanguageText(uint16_t language) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", language);
  return text;
}

// The profile named by a line of "active": its first word.
std::string_view FirstWord(std::string_view line) {
  return line.substr(0, line.find(' '));
}

}  // namespace

FileProfileRegistry::FileProfileRegistry(fs::path dir) : dir_(std::move(dir)) {}

std::string FileProfileRegistry::ProfileKey(uint16_t language, std::string_view class_id,
                                            std::string_view profile_guid) {
  return LanguageText(language) + ":" + std::string(class_id) + std::string(profile_guid);
}

bool FileProfileRegistry::InstallLayoutOrTip(std::string_view profile, uint32_t flags, int* error) {
  if (profile.empty() || profile.find('\n') != std::string_view::npos) return Failed(error, EINVAL);
  if (flags & kLayoutOrTipUninstall) {
    auto drop = [profile](Lines* lines) { Remove(lines, profile); };
    return Update(dir_, kInputLanguagesFile, drop, error) &&
           Update(dir_, kEnabledFile, drop, error) && Update(dir_, kDefaultFile, drop, error) &&
           Update(
               dir_, kActiveFile,
               [profile](Lines* lines) {
                 if (!lines->empty() && FirstWord(lines->front()) == profile) lines->clear();
               },
               error);
  }
  return Update(
      dir_, kInputLanguagesFile,
      [profile, flags](Lines* lines) {
        if (flags & kLayoutOrTipDefaultProfile) {
          Remove(lines, profile);
          lines->emplace(lines->begin(), profile);
        } else {
          AddLast(lines, profile);
        }
      },
      error);
}

bool FileProfileRegistry::Open(int* error) {
  return MakeDirectory(dir_, error);
}

bool FileProfileRegistry::EnableLanguageProfile(std::string_view class_id, uint16_t language,
                                                std::string_view profile_guid, bool enable,
                                                int* error) {
  std::string key = ProfileKey(language, class_id, profile_guid);
  return Update(
      dir_, kEnabledFile,
      [&key, enable](Lines* lines) { enable ? AddLast(lines, key) : Remove(lines, key); }, error);
}

bool FileProfileRegistry::SetDefaultLanguageProfile(uint16_t language, std::string_view class_id,
                                                    std::string_view profile_guid, int* error) {
  std::string key = ProfileKey(language, class_id, profile_guid);
  std::string prefix = LanguageText(language) + ":";
  return Update(
      dir_, kDefaultFile,
      [&key, &prefix](Lines* lines) {
        std::erase_if(*lines, [&](const std::string& line) {
          return line.compare(0, prefix.size(), prefix) == 0;
        });
        lines->push_back(key);
      },
      error);
}

bool FileProfileRegistry::ChangeCurrentLanguage(uint16_t language, int* error) {
  return Update(
      dir_, kCurrentLanguageFile, [language](Lines* lines) { *lines = {LanguageText(language)}; },
      error);
}

bool FileProfileRegistry::ActivateProfile(uint16_t language, std::string_view class_id,
                                          std::string_view profile_guid, uint32_t flags,
                                          int* error) {
  std::string key = ProfileKey(language, class_id, profile_guid);
  bool enabled = false;
  bool ok = Update(
      dir_, kEnabledFile,
      [&](Lines* lines) {
        if (flags & kActivateEnableProfile) AddLast(lines, key);
        enabled = std::find(lines->begin(), lines->end(), key) != lines->end();
      },
      error);
  if (!ok) return false;
  // Only an enabled profile can be made active.
  if (!enabled) return Failed(error, ENOENT);
  char flag_text[16];
  std::snprintf(flag_text, sizeof flag_text, "0x%08x", flags);
  return Update(
      dir_, kActiveFile, [&](Lines* lines) { *lines = {key + " " + flag_text}; }, error);
}

}  // namespace kavi::win
