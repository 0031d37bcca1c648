// SPDX-License-Identifier: Apache-2.0
// A scheme's learned data on disk: "<user data dir>/<scheme id>.userdb/", holding the user
// dictionary ("user.dict") and the typing history ("user.history"). The maintenance jobs back up
// and delete every entry ending in ".userdb", so nothing else of the scheme lives outside it
// (its text copy under "sync/" is what a redeploy rebuilds it from).
//
// Several servers may share the folder (two desktops of one user). A writer therefore takes the
// folder's lock, and when the dictionary on disk is no longer the one it read or wrote last,
// merges it into its own before replacing it: a second writer never overwrites newer learning
// blindly.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/file_read.h"
#include "platform/instance_lock.h"

namespace kavi::win {

inline constexpr std::string_view kUserDbSuffix = ".userdb";
inline constexpr std::string_view kUserDictFile = "user.dict";
inline constexpr std::string_view kUserHistoryFile = "user.history";
inline constexpr std::string_view kUserDbLockFile = ".lock";

class UserDb {
 public:
  UserDb(const std::filesystem::path& user_data_dir, const std::string& scheme_id);

  const std::filesystem::path& directory() const { return directory_; }

  // Feeds the named file to read; a missing file is no error (nothing learned yet). A file that
  // the reader rejects is renamed to "<name>.bad" so the next save cannot overwrite what may
  // still be recovered, and the call fails with a message.
  bool Read(std::string_view name, const std::function<void(std::istream&)>& read,
            std::string* message) const;
  // As Read, but leaves a rejected file where it is.
  bool Peek(std::string_view name, const std::function<void(std::istream&)>& read,
            std::string* message) const;

  // Replaces the named file atomically with what write produces: a temporary file beside it is
  // written, flushed to disk and renamed over the target, so a copy taken at any moment holds
  // either the old or the new file, never a torn one.
  bool Write(std::string_view name, const std::function<void(std::ostream&)>& write,
             std::string* message) const;

  // The file the name leads to now; nullopt when there is none.
  std::optional<FileStamp> Stamp(std::string_view name) const;

  // Waits for the folder's writer lock (creating the folder). False with a message when the
  // lock cannot be had.
  bool LockForWriting(InstanceLock* lock, std::string* message) const;

 private:
  bool ReadFile(std::string_view name, const std::function<void(std::istream&)>& read,
                bool set_aside, std::string* message) const;

  std::filesystem::path directory_;
};

// Writes bytes to path through a flushed temporary file and a rename.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* message);

}  // namespace kavi::win
