// SPDX-License-Identifier: Apache-2.0
#include "platform/folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace kavi::win {
namespace {

std::filesystem::path HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir == '/')
    return pw->pw_dir;
  return {};
}

std::filesystem::path XdgFolder(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value && *value == '/') return value;
  std::filesystem::path home = HomeFolder();
  return home.empty() ? home : home / fallback;
}

}  // namespace

std::filesystem::path RoamingAppDataFolder() {
  return XdgFolder("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path LocalAppDataFolder() {
  return XdgFolder("XDG_DATA_HOME", ".local/share");
}

std::filesystem::path ProgramPath() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec);
}

std::filesystem::path ProgramFolder() {
  return ProgramPath().parent_path();
}

std::filesystem::path ShippedFilesFolder() {
  const std::filesystem::path program = ProgramFolder();
  std::error_code error;
  if (std::filesystem::is_directory(program / "data", error)) return program;
  return (program / ".." / ".." / "share" / "kavi").lexically_normal();
}

}  // namespace kavi::win
