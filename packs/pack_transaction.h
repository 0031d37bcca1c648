// SPDX-License-Identifier: Apache-2.0
// The pack directory as one transaction: verified files wait in a staging directory, then move
// into place one by one while a journal on disk records each step, so that a failure, or a crash
// at any moment, can put the directory back as it was.
//
//   <pack dir>/zrm.schema.yaml, zrm.main.dict      the files of pack "zrm"
//   <pack dir>/zrm.complete                        "ok\n": the pack is whole
//   <pack dir>/.install-zrm-<pid>-<tick>/          one install's staging directory
//       zrm.schema.yaml, zrm.main.dict             the verified downloads
//       backup/                                    the files they replace
//       .journal                                   what has been committed so far
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

inline constexpr char kPackCompleteSuffix[] = ".complete";
inline constexpr char kPackCompleteContent[] = "ok\n";
inline constexpr char kPackStagingPrefix[] = ".install-";
inline constexpr char kPackBackupDirName[] = "backup";
inline constexpr char kPackJournalName[] = ".journal";
// The temporary name of a file being written atomically into the pack directory.
inline constexpr char kPackPartSuffix[] = ".part";

inline constexpr char kPackBackupDirMessage[] = "無法建立方案回滾目錄";
inline constexpr char kPackBackupMessage[] = "無法備份既有方案文件";
inline constexpr char kPackCommitMessage[] = "無法提交已校驗的方案文件";
inline constexpr char kPackPartCreateMessage[] = "無法建立方案暫存文件";
inline constexpr char kPackAtomicWriteMessage[] = "原子寫入方案文件失敗";

// "<pack dir>/<id>.complete".
std::filesystem::path PackMarkerPath(const std::filesystem::path& pack_dir, std::string_view id);

// Writes `bytes` to `target` through target + ".part", flushed and moved into place. False with
// "無法建立方案暫存文件" when the ".part" file cannot be created, else "原子寫入方案文件失敗".
bool WritePackFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                             std::string* message);

// The commit of one install's staged files into the pack directory.
class PackTransaction {
 public:
  PackTransaction(std::filesystem::path pack_dir, std::filesystem::path staging_dir);

  // Creates the backup directory and an empty journal; false with "無法建立方案回滾目錄".
  bool Begin(std::string* message);
  // Moves the staged file `name` onto its place, first moving a file already there into the
  // backup directory. The journal names the file before anything moves. On failure everything
  // committed so far is rolled back and the message is "無法備份既有方案文件" or
  // "無法提交已校驗的方案文件". A lookup of the target that fails for another reason than
  // "not found" throws std::filesystem::filesystem_error.
  bool Commit(const std::string& name, std::string* message);
  // Puts back, last file first, what Commit changed: a new file is deleted, a replaced one comes
  // back from the backup. Errors are ignored.
  void Rollback();

  // The transaction that the journal in `staging_dir` records, as a crash left it; nothing to
  // roll back when the journal is missing or unreadable.
  static PackTransaction FromJournal(std::filesystem::path pack_dir,
                                     std::filesystem::path staging_dir);

 private:
  struct Entry {
    std::string name;
    bool replaced = false;  // a file of that name was there before
  };

  bool WriteJournal() const;

  const std::filesystem::path pack_dir_;
  const std::filesystem::path staging_dir_;
  std::vector<Entry> journal_;
};

// Deletes a staging directory with everything in it (a removal can fail on a file that another
// program holds open for a moment, so it is tried up to ten times).
void RemovePackStaging(const std::filesystem::path& staging_dir);

// After a crash: rolls back every install whose commit had begun and had not written its
// completion marker, deletes every staging directory and every ".part" file left in the pack
// directory. Run before anything reads the pack directory (the engine) and while no install
// runs.
void RecoverInterruptedInstalls(const std::filesystem::path& pack_dir);

}  // namespace kavi::win
