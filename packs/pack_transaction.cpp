// SPDX-License-Identifier: Apache-2.0
#include "packs/pack_transaction.h"

#include <system_error>

#include "platform/directories.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "text/safe_file_name.h"

namespace kavi::win {
namespace {

namespace fs = std::filesystem;

constexpr char kJournalHeader[] = "kavi-pack-journal 1\n";
// A journal names at most 256 files of at most 255 bytes each.
constexpr uintmax_t kMaxJournalBytes = 1 << 20;
constexpr int kStagingRemovalTries = 10;

bool Fail(std::string* message, const char* text) {
  if (message != nullptr) *message = text;
  return false;
}

bool Exists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

// The pack id in a staging directory's name ".install-<id>-<pid>-<tick>"; empty when the name
// is not one.
std::string StagingPackId(const std::string& name) {
  if (!name.starts_with(kPackStagingPrefix)) return {};
  const size_t start = std::string_view(kPackStagingPrefix).size();
  const size_t dash = name.find('-', start);
  if (dash == std::string::npos) return {};
  return name.substr(start, dash - start);
}

}  // namespace

void RemovePackStaging(const fs::path& staging_dir) {
  for (int attempt = 0; attempt < kStagingRemovalTries; ++attempt) {
    std::error_code error;
    fs::remove_all(staging_dir, error);
    if (!error && !Exists(staging_dir)) return;
  }
}

fs::path PackMarkerPath(const fs::path& pack_dir, std::string_view id) {
  return pack_dir / (std::string(id) + kPackCompleteSuffix);
}

bool WritePackFileAtomically(const fs::path& target, std::string_view bytes, std::string* message) {
  ReplaceFailure failure;
  if (ReplaceFile(target, bytes, kPrivateFileMode, kPackPartSuffix, &failure)) return true;
  return Fail(message, failure.step == AtomicWriteStep::kCreate ? kPackPartCreateMessage
                                                                : kPackAtomicWriteMessage);
}

PackTransaction::PackTransaction(fs::path pack_dir, fs::path staging_dir)
    : pack_dir_(std::move(pack_dir)), staging_dir_(std::move(staging_dir)) {}

bool PackTransaction::Begin(std::string* message) {
  if (!CreateDirectory(staging_dir_ / kPackBackupDirName, kPrivateDirectoryMode) &&
      errno != EEXIST)
    return Fail(message, kPackBackupDirMessage);
  if (!WriteJournal()) return Fail(message, kPackBackupDirMessage);
  return true;
}

bool PackTransaction::Commit(const std::string& name, std::string* message) {
  const fs::path target = pack_dir_ / name;
  const fs::path backup = staging_dir_ / kPackBackupDirName / name;
  // Throws on a lookup error other than "not found".
  const bool replaced = fs::exists(target);
  journal_.push_back({name, replaced});
  if (!WriteJournal()) {
    journal_.pop_back();
    Rollback();
    return Fail(message, kPackBackupMessage);
  }
  if (replaced && !MoveFileReplacing(target, backup, nullptr)) {
    Rollback();
    return Fail(message, kPackBackupMessage);
  }
  if (!MoveFileReplacing(staging_dir_ / name, target, nullptr)) {
    Rollback();
    return Fail(message, kPackCommitMessage);
  }
  return true;
}

void PackTransaction::Rollback() {
  for (auto entry = journal_.rbegin(); entry != journal_.rend(); ++entry) {
    const fs::path target = pack_dir_ / entry->name;
    const fs::path backup = staging_dir_ / kPackBackupDirName / entry->name;
    if (!entry->replaced) {
      std::error_code ignored;
      fs::remove(target, ignored);
    } else if (Exists(backup)) {
      MoveFileReplacing(backup, target, nullptr);
    }
    // A replaced file whose backup never happened is still in its place.
  }
  journal_.clear();
}

PackTransaction PackTransaction::FromJournal(fs::path pack_dir, fs::path staging_dir) {
  std::string journal;
  const bool read = ReadRegularFile(staging_dir / kPackJournalName, kMaxJournalBytes, &journal) ==
                    ReadFileResult::kRead;
  PackTransaction transaction(std::move(pack_dir), std::move(staging_dir));
  if (!read || !journal.starts_with(kJournalHeader)) return transaction;
  size_t at = std::string_view(kJournalHeader).size();
  for (size_t end; (end = journal.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string_view line = std::string_view(journal).substr(at, end - at);
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos || !IsSafeFileName(line.substr(0, tab))) continue;
    transaction.journal_.push_back({std::string(line.substr(0, tab)), line.substr(tab + 1) == "1"});
  }
  return transaction;
}

bool PackTransaction::WriteJournal() const {
  std::string text = kJournalHeader;
  for (const Entry& entry : journal_)
    text += entry.name + (entry.replaced ? "\t1\n" : "\t0\n");
  return ReplaceFile(staging_dir_ / kPackJournalName, text, kPrivateFileMode, nullptr);
}

void RecoverInterruptedInstalls(const fs::path& pack_dir) {
  std::vector<fs::path> stagings, parts;
  std::error_code error;
  for (fs::directory_iterator it(pack_dir, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code type_error;
    if (name.starts_with(kPackStagingPrefix) && it->is_directory(type_error)) {
      stagings.push_back(it->path());
    } else if (name.ends_with(kPackPartSuffix) && it->is_regular_file(type_error)) {
      parts.push_back(it->path());
    }
  }
  for (const fs::path& staging : stagings) {
    // With its marker written the install had finished: only its staging directory is left.
    const std::string id = StagingPackId(staging.filename().string());
    if (!id.empty() && !Exists(PackMarkerPath(pack_dir, id)))
      PackTransaction::FromJournal(pack_dir, staging).Rollback();
    RemovePackStaging(staging);
  }
  for (const fs::path& part : parts) fs::remove(part, error);
}

}  // namespace kavi::win
