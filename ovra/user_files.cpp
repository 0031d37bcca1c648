// SPDX-License-Identifier: Apache-2.0
#include "ovra/user_files.h"

#include <string>
#include <utility>
#include <vector>

#include "ovra/log.h"

namespace kavi::win {

void UserFiles::SetDirectory(std::filesystem::path directory) {
  directory_ = std::move(directory);
  phrases_file_ = {};
  pinyin_file_ = {};
}

bool UserFiles::ReadIfChanged(std::string_view name, Followed* followed, std::string* bytes) {
  const std::filesystem::path path = directory_ / name;
  const std::optional<FileStamp> stamp = StampFile(path);
  if (followed->seen && stamp == followed->stamp) return false;
  followed->seen = true;
  followed->stamp = stamp;
  bytes->clear();
  if (!stamp) return true;
  if (ReadRegularFile(path, kMaxFileBytes, bytes) != ReadFileResult::kRead) {
    LogEngineEvent(std::string(name) + " cannot be read; what was read from it before stays");
    return false;
  }
  return true;
}

UserFiles::Changes UserFiles::Refresh() {
  Changes changes;
  std::string bytes;
  if (ReadIfChanged(kCustomPhrasesFile, &phrases_file_, &bytes)) {
    std::vector<CustomPhraseProblem> problems;
    phrases_ = CustomPhrases::Parse(bytes, &problems);
    for (const CustomPhraseProblem& problem : problems) {
      LogEngineEvent(std::string(kCustomPhrasesFile) + " line " + std::to_string(problem.line) +
                     " skipped: " + problem.reason);
    }
    changes.phrases = true;
  }
  if (ReadIfChanged(kUserPinyinOptionsFile, &pinyin_file_, &bytes)) {
    UserPinyinOptions options;
    std::vector<std::string> problems;
    std::string message;
    if (ParseUserPinyinOptions(bytes, &options, &problems, &message)) {
      for (const std::string& problem : problems) {
        LogEngineEvent(std::string(kUserPinyinOptionsFile) + ": " + problem);
      }
      changes.pinyin = options != pinyin_;
      pinyin_ = std::move(options);
    } else {
      LogEngineEvent(std::string(kUserPinyinOptionsFile) + " not used: " + message);
    }
  }
  return changes;
}

}  // namespace kavi::win
