// A scheme's learned data on disk: "<user data dir>/<scheme id>.userdb/", holding the user
// dictionary ("user.dict") and the typing history ("user.history"). The maintenance jobs back up
// and delete every entry ending in ".userdb", so nothing else of the scheme lives outside it.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>

namespace kavi::win {

inline constexpr std::string_view kUserDbSuffix = ".userdb";
inline constexpr std::string_view kUserDictFile = "user.dict";
inline constexpr std::string_view kUserHistoryFile = "user.history";

class UserDb {
 public:
  UserDb(const std::filesystem::path& user_data_dir, const std::string& scheme_id);

  const std::filesystem::path& directory() const { return directory_; }

  // Feeds the named file to read; a missing file is no error (nothing learned yet). A file that
  // the reader rejects is renamed to "<name>.bad" so the next save cannot overwrite what may
  // still be recovered, and the call fails with a message.
  bool Read(std::string_view name, const std::function<void(std::istream&)>& read,
            std::string* message) const;

  // Replaces the named file atomically with what write produces: a temporary file beside it is
  // written, flushed to disk and renamed over the target, so a copy taken at any moment holds
  // either the old or the new file, never a torn one.
  bool Write(std::string_view name, const std::function<void(std::ostream&)>& write,
             std::string* message) const;

 private:
  std::filesystem::path directory_;
};

// Writes bytes to path through a flushed temporary file and a rename.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* message);

}  // namespace kavi::win
