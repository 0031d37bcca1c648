// SPDX-License-Identifier: Apache-2.0
#include "platform/server_endpoint.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kavi::win {
namespace {

constexpr char kRuntimeFolderName[] = "kavi";

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Letters, digits, '-' and '_' pass; anything else becomes '_', so a key is one plain name.
std::string Plain(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    out.push_back(keep ? c : '_');
  }
  return out;
}

// "[host]:<n>[.<screen>]" → host ("" for this machine) and n; false when it is not that form.
bool ParseX11Display(std::string_view display, std::string* host, std::string* number) {
  const size_t colon = display.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view rest = display.substr(colon + 1);
  rest = rest.substr(0, rest.find('.'));
  if (rest.empty() || rest.find_first_not_of("0123456789") != std::string_view::npos) return false;
  std::string_view name = display.substr(0, colon);
  // "unix:0" and "/tmp/.X11-unix/X0"-style launchd paths are this machine too.
  if (name == "unix" || (!name.empty() && name.front() == '/')) name = {};
  *host = std::string(name);
  *number = std::string(rest);
  return true;
}

bool IsPrivateDirectoryOf(const std::filesystem::path& dir, uid_t uid) {
  struct stat info;
  return ::lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid &&
         (info.st_mode & 0077) == 0;
}

}  // namespace

SessionEnvironment CurrentSessionEnvironment() {
  SessionEnvironment env;
  env.uid = ::getuid();
  env.display = Variable("DISPLAY");
  env.wayland_display = Variable("WAYLAND_DISPLAY");
  env.runtime_dir = Variable("XDG_RUNTIME_DIR");
  return env;
}

std::string SessionKey(const SessionEnvironment& env) {
  std::string host, number;
  if (ParseX11Display(env.display, &host, &number)) {
    return host.empty() ? "x11-" + number : "x11-" + Plain(host) + "-" + number;
  }
  if (!env.wayland_display.empty()) {
    return "wayland-" + Plain(std::filesystem::path(env.wayland_display).filename().string());
  }
  return "console";
}

ServerEndpoint ServerEndpointFor(const SessionEnvironment& env) {
  const std::string uid = std::to_string(env.uid);
  ServerEndpoint endpoint;
  const std::filesystem::path logind = env.user_runtime_base / uid;
  if (!env.runtime_dir.empty() && env.runtime_dir.front() == '/') {
    endpoint.directory = std::filesystem::path(env.runtime_dir) / kRuntimeFolderName;
  } else if (IsPrivateDirectoryOf(logind, env.uid)) {
    endpoint.directory = logind / kRuntimeFolderName;
  } else {
    endpoint.directory = std::filesystem::path("/tmp") / ("kavi-" + uid);
  }
  const std::string key = SessionKey(env);
  endpoint.socket = endpoint.directory / ("Kavi." + uid + "." + key);
  endpoint.lock = endpoint.directory / ("Kavi.Server." + uid + "." + key + ".lock");
  return endpoint;
}

ServerEndpoint CurrentServerEndpoint() {
  return ServerEndpointFor(CurrentSessionEnvironment());
}

bool PrepareRuntimeDirectory(const std::filesystem::path& dir, std::string* message) {
  auto fail = [&](std::string text) {
    if (message) *message = std::move(text);
    return false;
  };
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return fail("cannot create " + dir.string() + ": " + std::strerror(errno));
  struct stat info;
  if (::lstat(dir.c_str(), &info) != 0)
    return fail("cannot inspect " + dir.string() + ": " + std::strerror(errno));
  const std::string remedy = "; remove it, or set XDG_RUNTIME_DIR to a private directory";
  if (!S_ISDIR(info.st_mode)) return fail(dir.string() + " is not a directory" + remedy);
  if (info.st_uid != ::getuid()) {
    return fail(dir.string() + " belongs to uid " + std::to_string(info.st_uid) +
                ", not to you (uid " + std::to_string(::getuid()) +
                "): another user may have made it to intercept your typing" + remedy);
  }
  if ((info.st_mode & 0077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return fail(dir.string() + " is open to other users (mode " + mode + ")" + remedy);
  }
  if (message) message->clear();
  return true;
}

}  // namespace kavi::win
