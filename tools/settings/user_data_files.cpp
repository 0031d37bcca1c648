// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/user_data_files.h"

#include <algorithm>
#include <ctime>
#include <system_error>

#include "platform/file_read.h"
#include "platform/folders.h"

namespace kavi::win {

namespace {

constexpr char kBackupsFolderName[] = "backups";
constexpr char kUserDictionarySuffix[] = ".userdb";
constexpr char kKaviFolderName[] = "Kavi";
constexpr char kUpdatesFolderName[] = "updates";
// The pending-update record is four short lines.
constexpr uintmax_t kMaxPendingUpdateBytes = 8192;

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// "20261206-085312" (UTC) as a time, when it is one.
std::optional<std::time_t> BackupTime(std::string_view name) {
  if (name.size() != 15 || name[8] != '-' || !AllDigits(name.substr(0, 8)) ||
      !AllDigits(name.substr(9)))
    return std::nullopt;
  std::tm utc{};
  utc.tm_year = Number(name.substr(0, 4)) - 1900;
  utc.tm_mon = Number(name.substr(4, 2)) - 1;
  utc.tm_mday = Number(name.substr(6, 2));
  utc.tm_hour = Number(name.substr(9, 2));
  utc.tm_min = Number(name.substr(11, 2));
  utc.tm_sec = Number(name.substr(13, 2));
  if (utc.tm_mon > 11 || utc.tm_mday < 1 || utc.tm_mday > 31 || utc.tm_hour > 23 ||
      utc.tm_min > 59 || utc.tm_sec > 60)
    return std::nullopt;
  return timegm(&utc);
}

std::string LocalTimeText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

std::vector<int> VersionNumbers(const std::string& version) {
  std::vector<int> numbers(1, 0);
  for (char c : version) {
    if (c == '.') {
      numbers.push_back(0);
    } else if (c >= '0' && c <= '9') {
      numbers.back() = std::min(numbers.back() * 10 + (c - '0'), 1000000);
    }
  }
  return numbers;
}

}  // namespace

std::filesystem::path BackupsFolder(const std::filesystem::path& config_directory) {
  return config_directory / kBackupsFolderName;
}

std::vector<DictionaryBackup> ListBackups(const std::filesystem::path& backups_folder) {
  std::vector<DictionaryBackup> backups;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(backups_folder, error)) {
    const std::string name = entry.path().filename().string();
    const std::optional<std::time_t> when = BackupTime(name);
    if (!when || !entry.is_directory(error)) continue;
    DictionaryBackup backup{name, LocalTimeText(*when)};
    for (const auto& file : std::filesystem::recursive_directory_iterator(entry.path(), error)) {
      if (!file.is_regular_file(error)) continue;
      backup.bytes += file.file_size(error);
      if (file.path().filename().string().ends_with(kUserDictionarySuffix)) ++backup.dictionaries;
    }
    // A whole .userdb directory counts as one dictionary.
    for (const auto& top : std::filesystem::directory_iterator(entry.path(), error)) {
      if (top.is_directory(error) &&
          top.path().filename().string().ends_with(kUserDictionarySuffix))
        ++backup.dictionaries;
    }
    backups.push_back(std::move(backup));
  }
  std::sort(backups.begin(), backups.end(),
            [](const DictionaryBackup& a, const DictionaryBackup& b) { return a.name > b.name; });
  return backups;
}

std::filesystem::path UpdatesFolder() {
  return LocalAppDataFolder() / kKaviFolderName / kUpdatesFolderName;
}

std::optional<PendingUpdate> ReadPendingUpdate(const std::filesystem::path& updates_folder,
                                               std::string* problem) {
  problem->clear();
  std::string text;
  const ReadFileResult read =
      ReadRegularFile(updates_folder / kPendingUpdateFileName, kMaxPendingUpdateBytes, &text);
  if (read == ReadFileResult::kCannotOpen) return std::nullopt;
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  if (read != ReadFileResult::kRead || lines.size() != 4 || start != text.size() ||
      lines[0].empty() || !AllDigits(lines[1]) || lines[1].size() > 5 || lines[2].size() != 64 ||
      lines[3].empty()) {
    *problem = "待安裝更新的紀錄無效";
    return std::nullopt;
  }
  PendingUpdate update{lines[0], static_cast<uint32_t>(Number(lines[1])), lines[2], lines[3]};
  std::error_code error;
  if (!std::filesystem::is_regular_file(update.package, error)) {
    *problem = "待安裝的更新套件已不存在";
    return std::nullopt;
  }
  return update;
}

bool IsNewerVersion(const std::string& candidate, const std::string& running) {
  std::vector<int> a = VersionNumbers(candidate);
  std::vector<int> b = VersionNumbers(running);
  a.resize(std::max(a.size(), b.size()));
  b.resize(a.size());
  return a > b;
}

std::vector<std::string> InstallUpdateCommand(const PendingUpdate& update) {
  // apt-get installs a package file only when its path is explicit.
  return {"pkexec", "apt-get", "install", "--yes",
          std::filesystem::absolute(update.package).string()};
}

}  // namespace kavi::win
