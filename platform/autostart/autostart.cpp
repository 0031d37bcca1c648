// SPDX-License-Identifier: Apache-2.0
#include "platform/autostart/autostart.h"

#include <cstring>

#include "platform/directories.h"
#include "platform/file_replace.h"
#include "platform/folders.h"

namespace kavi::win {
namespace fs = std::filesystem;

namespace {

constexpr fs::perms kEntryPermissions =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;

bool Fail(std::string* message, std::string text) {
  if (message) *message = std::move(text);
  return false;
}

// The Exec value: the program as one double-quoted argument. Inside the quotes '"', '`', '$'
// and '\' take a backslash; then the value's own escaping doubles every backslash, and '%'
// (a field code) is written "%%".
std::string ExecValue(const std::string& program) {
  std::string quoted = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string value;
  for (char c : quoted) {
    if (c == '\\')
      value += "\\\\";
    else if (c == '%')
      value += "%%";
    else
      value += c;
  }
  return value;
}

}  // namespace

fs::path AutostartFolder() {
  fs::path config = RoamingAppDataFolder();
  return config.empty() ? config : config / "autostart";
}

std::string AutostartEntry(const fs::path& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Kavi\n"
         "Name[zh_TW]=霜楓\n"
         "Comment=Chinese input method server\n"
         "Comment[zh_TW]=霜楓輸入法伺服器\n"
         "Exec=" +
         ExecValue(program.string()) +
         "\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool WriteAutostartEntry(const fs::path& autostart_dir, const fs::path& program,
                         std::string* message) {
  std::string text = program.string();
  if (!program.is_absolute() || text.find_first_of("\n\r") != std::string::npos)
    return Fail(message, "autostart: the program path must be absolute and on one line: " + text);
  if (autostart_dir.empty()) return Fail(message, "autostart: no configuration folder");
  std::string reason;
  if (!CreateDirectories(autostart_dir, kPrivateDirectoryMode, &reason))
    return Fail(message, "autostart: " + reason);

  fs::path target = autostart_dir / kAutostartEntryName;
  ReplaceFailure failure;
  if (!ReplaceFile(target, AutostartEntry(program), kEntryPermissions, &failure)) {
    fs::path named = target;
    if (failure.step == AtomicWriteStep::kCreate) named += ".tmp";
    return Fail(message, "autostart: " + named.string() + ": " + std::strerror(failure.error));
  }
  if (message) message->clear();
  return true;
}

}  // namespace kavi::win
