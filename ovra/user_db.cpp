#include "ovra/user_db.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace kavi::win {
namespace {

bool SetMessage(std::string* message, std::string text) {
  if (message) *message = std::move(text);
  return false;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void SyncDirectory(const std::filesystem::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* message) {
  std::filesystem::path temp = path;
  temp += ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    return SetMessage(message, "cannot create " + temp.string() + ": " + std::strerror(errno));
  }
  bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  int saved_errno = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    saved_errno = errno;
  }
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    if (written) saved_errno = errno;
    ::unlink(temp.c_str());
    return SetMessage(message, "cannot write " + path.string() + ": " + std::strerror(saved_errno));
  }
  SyncDirectory(path.parent_path());
  if (message) message->clear();
  return true;
}

UserDb::UserDb(const std::filesystem::path& user_data_dir, const std::string& scheme_id)
    : directory_(user_data_dir / (scheme_id + std::string(kUserDbSuffix))) {}

bool UserDb::Read(std::string_view name, const std::function<void(std::istream&)>& read,
                  std::string* message) const {
  std::filesystem::path path = directory_ / name;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
      if (message) message->clear();
      return true;
    }
    return SetMessage(message, "cannot open " + path.string());
  }
  try {
    read(in);
  } catch (const std::exception& e) {
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
  std::error_code ec;
  std::filesystem::create_directories(directory_, ec);
  if (ec) return SetMessage(message, "cannot create " + directory_.string() + ": " + ec.message());
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
