#include "platform/profiles/profile_registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace kavi::win {
namespace fs = std::filesystem;

namespace {

constexpr char kInputLanguagesFile[] = "input-languages";
constexpr char kEnabledFile[] = "enabled";
constexpr char kDefaultFile[] = "default";
constexpr char kCurrentLanguageFile[] = "current-language";
constexpr char kActiveFile[] = "active";
constexpr char kLockFile[] = ".lock";

using Lines = std::vector<std::string>;

bool Failed(int* error, int value) {
  if (error) *error = value;
  return false;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool MakeDirectory(const fs::path& dir, int* error) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return Failed(error, ec.value());
  return true;
}

// Reads a file's lines; a missing file has none.
bool ReadLines(const fs::path& file, Lines* lines, int* error) {
  lines->clear();
  Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? true : Failed(error, errno);
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failed(error, errno);
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines->push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the file with the lines: written beside it, flushed to disk, then renamed over it.
bool WriteLines(const fs::path& file, const Lines& lines, int* error) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  fs::path temporary = file.string() + ".tmp";
  Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (fd.get() < 0) return Failed(error, errno);
  if (!WriteAll(fd.get(), text) || ::fsync(fd.get()) != 0 || ::close(fd.Release()) != 0 ||
      ::rename(temporary.c_str(), file.c_str()) != 0) {
    int saved = errno;
    ::unlink(temporary.c_str());
    return Failed(error, saved);
  }
  return true;
}

// Holds the registry's lock while one file is read, changed and written back.
bool Update(const fs::path& dir, const char* name, const std::function<void(Lines*)>& change,
            int* error) {
  if (!MakeDirectory(dir, error)) return false;
  Descriptor lock(::open((dir / kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) return Failed(error, errno);
  while (::flock(lock.get(), LOCK_EX) != 0)
    if (errno != EINTR) return Failed(error, errno);
  Lines lines;
  if (!ReadLines(dir / name, &lines, error)) return false;
  Lines before = lines;
  change(&lines);
  return lines == before || WriteLines(dir / name, lines, error);
}

void Remove(Lines* lines, std::string_view line) {
  lines->erase(std::remove(lines->begin(), lines->end(), line), lines->end());
}

void AddLast(Lines* lines, std::string_view line) {
  if (std::find(lines->begin(), lines->end(), line) == lines->end()) lines->emplace_back(line);
}

std::string LanguageText(uint16_t language) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", language);
  return text;
}

// The profile named by a line of "active": its first word.
std::string_view FirstWord(std::string_view line) {
  return line.substr(0, line.find(' '));
}

}  // namespace

FileProfileRegistry::FileProfileRegistry(fs::path dir) : dir_(std::move(dir)) {}

std::string FileProfileRegistry::ProfileKey(uint16_t language, std::string_view class_id,
                                            std::string_view profile_guid) {
  return LanguageText(language) + ":" + std::string(class_id) + std::string(profile_guid);
}

bool FileProfileRegistry::InstallLayoutOrTip(std::string_view profile, uint32_t flags, int* error) {
  if (profile.empty() || profile.find('\n') != std::string_view::npos) return Failed(error, EINVAL);
  if (flags & kLayoutOrTipUninstall) {
    auto drop = [profile](Lines* lines) { Remove(lines, profile); };
    return Update(dir_, kInputLanguagesFile, drop, error) &&
           Update(dir_, kEnabledFile, drop, error) && Update(dir_, kDefaultFile, drop, error) &&
           Update(
               dir_, kActiveFile,
               [profile](Lines* lines) {
                 if (!lines->empty() && FirstWord(lines->front()) == profile) lines->clear();
               },
               error);
  }
  return Update(
      dir_, kInputLanguagesFile,
      [profile, flags](Lines* lines) {
        if (flags & kLayoutOrTipDefaultProfile) {
          Remove(lines, profile);
          lines->emplace(lines->begin(), profile);
        } else {
          AddLast(lines, profile);
        }
      },
      error);
}

bool FileProfileRegistry::Open(int* error) {
  return MakeDirectory(dir_, error);
}

bool FileProfileRegistry::EnableLanguageProfile(std::string_view class_id, uint16_t language,
                                                std::string_view profile_guid, bool enable,
                                                int* error) {
  std::string key = ProfileKey(language, class_id, profile_guid);
  return Update(
      dir_, kEnabledFile,
      [&key, enable](Lines* lines) { enable ? AddLast(lines, key) : Remove(lines, key); }, error);
}

bool FileProfileRegistry::SetDefaultLanguageProfile(uint16_t language, std::string_view class_id,
                                                    std::string_view profile_guid, int* error) {
  std::string key = ProfileKey(language, class_id, profile_guid);
  std::string prefix = LanguageText(language) + ":";
  return Update(
      dir_, kDefaultFile,
      [&key, &prefix](Lines* lines) {
        std::erase_if(*lines, [&](const std::string& line) {
          return line.compare(0, prefix.size(), prefix) == 0;
        });
        lines->push_back(key);
      },
      error);
}

bool FileProfileRegistry::ChangeCurrentLanguage(uint16_t language, int* error) {
  return Update(
      dir_, kCurrentLanguageFile, [language](Lines* lines) { *lines = {LanguageText(language)}; },
      error);
}

bool FileProfileRegistry::ActivateProfile(uint16_t language, std::string_view class_id,
                                          std::string_view profile_guid, uint32_t flags,
                                          int* error) {
  std::string key = ProfileKey(language, class_id, profile_guid);
  bool enabled = false;
  bool ok = Update(
      dir_, kEnabledFile,
      [&](Lines* lines) {
        if (flags & kActivateEnableProfile) AddLast(lines, key);
        enabled = std::find(lines->begin(), lines->end(), key) != lines->end();
      },
      error);
  if (!ok) return false;
  // Only an enabled profile can be made active.
  if (!enabled) return Failed(error, ENOENT);
  char flag_text[16];
  std::snprintf(flag_text, sizeof flag_text, "0x%08x", flags);
  return Update(
      dir_, kActiveFile, [&](Lines* lines) { *lines = {key + " " + flag_text}; }, error);
}

}  // namespace kavi::win
