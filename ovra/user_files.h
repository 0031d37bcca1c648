// SPDX-License-Identifier: Apache-2.0
// The user's files in the user-data root that the engine follows: the custom phrases and the
// pinyin options. A file is read again only when it changed on disk; a file that is removed
// counts as empty; a file that cannot be read or parsed keeps what was read from it before.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "ovra/custom_phrases.h"
#include "ovra/pinyin_options.h"
#include "platform/file_read.h"

namespace kavi::win {

class UserFiles {
 public:
  // Larger files are not the user's phrases or options.
  static constexpr uintmax_t kMaxFileBytes = 4 << 20;

  // Follows the files of `directory` from now on; nothing is read yet.
  void SetDirectory(std::filesystem::path directory);

  struct Changes {
    bool phrases = false;
    bool pinyin = false;
  };
  // Reads the files that changed since the last call (all of them the first time), logging the
  // lines and names it leaves out.
  Changes Refresh();

  const CustomPhrases& phrases() const { return phrases_; }
  const UserPinyinOptions& pinyin() const { return pinyin_; }

 private:
  struct Followed {
    std::optional<FileStamp> stamp;
    bool seen = false;  // stamp holds what the last look found
  };
  // The file's bytes when it changed since the last look (empty when it is gone); false when it
  // did not change or cannot be read.
  bool ReadIfChanged(std::string_view name, Followed* followed, std::string* bytes);

  std::filesystem::path directory_;
  Followed phrases_file_;
  Followed pinyin_file_;
  CustomPhrases phrases_;
  UserPinyinOptions pinyin_;
};

}  // namespace kavi::win
