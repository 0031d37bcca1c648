// SPDX-License-Identifier: Apache-2.0
#include "ovra/user_db.h"

#include <cerrno>
#include <cstring>

#include <sstream>
#include <system_error>

#include "platform/directories.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"

namespace kavi::win {
namespace {

// Learned data is small; a file past this is not ours.
constexpr uintmax_t kMaxUserDataBytes = 256u << 20;

bool SetMessage(std::string* message, std::string text) {
  if (message) *message = std::move(text);
  return false;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* message) {
  ReplaceFailure failure;
  if (!ReplaceFile(path, bytes, kPrivateFileMode, &failure)) {
    std::string what = failure.step == AtomicWriteStep::kCreate ? "cannot create " : "cannot write ";
    std::filesystem::path named = path;
    if (failure.step == AtomicWriteStep::kCreate) named += ".tmp";
    return SetMessage(message, what + named.string() + ": " + std::strerror(failure.error));
  }
  if (message) message->clear();
  return true;
}

UserDb::UserDb(const std::filesystem::path& user_data_dir, const std::string& scheme_id)
    : directory_(user_data_dir / (scheme_id + std::string(kUserDbSuffix))) {}

bool UserDb::Read(std::string_view name, const std::function<void(std::istream&)>& read,
                  std::string* message) const {
  return ReadFile(name, read, true, message);
}

bool UserDb::Peek(std::string_view name, const std::function<void(std::istream&)>& read,
                  std::string* message) const {
  return ReadFile(name, read, false, message);
}

std::optional<FileStamp> UserDb::Stamp(std::string_view name) const {
  return StampFile(directory_ / name);
}

bool UserDb::LockForWriting(InstanceLock* lock, std::string* message) const {
  if (!CreateDirectories(directory_, kPrivateDirectoryMode, message)) return false;
  return lock->AcquireWaiting(directory_ / kUserDbLockFile, message);
}

bool UserDb::ReadFile(std::string_view name, const std::function<void(std::istream&)>& read,
                      bool set_aside, std::string* message) const {
  std::filesystem::path path = directory_ / name;
  std::string bytes;
  int error = 0;
  switch (ReadRegularFile(path, kMaxUserDataBytes, &bytes, &error)) {
    case ReadFileResult::kRead:
      break;
    case ReadFileResult::kCannotOpen:
      if (error == ENOENT) {
        if (message) message->clear();
        return true;
      }
      return SetMessage(message, "cannot open " + path.string() + ": " + std::strerror(error));
    case ReadFileResult::kUnreadable:
      return SetMessage(message, "cannot read " + path.string() + ": " + std::strerror(error));
  }
  std::istringstream in(std::move(bytes));
  try {
    read(in);
  } catch (const std::exception& e) {
    if (!set_aside)
      return SetMessage(message, "unreadable " + path.string() + " (" + e.what() + ")");
    std::filesystem::path bad = path;
    bad += ".bad";
    std::error_code ec;
    std::filesystem::rename(path, bad, ec);
    return SetMessage(message, "unreadable " + path.string() + " (" + e.what() + "), kept as " +
                                   bad.filename().string());
  }
  if (message) message->clear();
  return true;
}

bool UserDb::Write(std::string_view name, const std::function<void(std::ostream&)>& write,
                   std::string* message) const {
  if (!CreateDirectories(directory_, kPrivateDirectoryMode, message)) return false;
  std::ostringstream out;
  try {
    write(out);
  } catch (const std::exception& e) {
    return SetMessage(message,
                      std::string("cannot serialise ") + std::string(name) + ": " + e.what());
  }
  if (!out) return SetMessage(message, "cannot serialise " + std::string(name));
  return WriteFileAtomically(directory_ / name, out.str(), message);
}

}  // namespace kavi::win
