// SPDX-License-Identifier: Apache-2.0
// A scheme's learned data in text form, and the synchronised copies that hold it.
//
// Beside the binary files of "<scheme>.userdb/", the engine keeps one text copy of each scheme's
// learned data per installation:
//
//   <user data dir>/sync/<installation id>/<scheme id>.userdb.txt
//
// Every save writes this installation's copy; loading a scheme merges every installation's copy
// back (the words of all of them, the history of the first one when the scheme has none), so a
// deleted ".userdb" (a redeploy) is rebuilt from it, and a user-data folder shared between
// machines gathers the words learned on each. The words are the user dictionary in libime's text
// form, one entry a line; the history is libime's text dump, most recent sentence first.
//
// The copy's layout, sizes in bytes:
//   kavi-user-data 1\n
//   scheme <id>\n
//   words <n>\n<n bytes>\n
//   history <n>\n<n bytes>\n
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

inline constexpr std::string_view kSyncFolderName = "sync";
inline constexpr std::string_view kSyncCopySuffix = ".userdb.txt";
// A copy larger than this is not one of ours.
inline constexpr uintmax_t kMaxSyncCopyBytes = 256u << 20;

struct UserDataText {
  std::string words;
  std::string history;

  bool operator==(const UserDataText&) const = default;
};

std::string FormatSyncCopy(std::string_view scheme_id, const UserDataText& text);
// False with a message when the bytes are not a copy of `scheme_id`'s data.
bool ParseSyncCopy(std::string_view bytes, std::string_view scheme_id, UserDataText* out,
                   std::string* message);

// The word lines of `ours` followed by those of `theirs` whose word and code (the first two
// fields) no line of `ours` has. Lines with fewer than two fields are dropped.
std::string MergeWordLines(std::string_view ours, std::string_view theirs);

// The sync folder of one installation, and the copies of every other one beside it.
class SyncFolder {
 public:
  SyncFolder() = default;
  SyncFolder(const std::filesystem::path& user_data_dir, std::string installation_id);

  // Replaces this installation's copy of the scheme.
  bool Write(std::string_view scheme_id, const UserDataText& text, std::string* message) const;
  // Every installation's copy of the scheme, this installation's first. Copies that cannot be
  // read are skipped, each with a line in `problems`.
  std::vector<UserDataText> ReadAll(std::string_view scheme_id,
                                    std::vector<std::string>* problems) const;

 private:
  std::filesystem::path root_;
  std::string installation_id_;
};

}  // namespace kavi::win
