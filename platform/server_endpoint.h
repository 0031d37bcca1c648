// SPDX-License-Identifier: Apache-2.0
// Where a user's server listens: one server per user and desktop.
//
// Every process of one desktop must reach the same server: the terminal running kavi-client, the
// XDG autostart entry, the systemd user unit, applications started by D-Bus activation, and the
// IBus engine. What they share is the user (the uid) and, in a graphical session, the display;
// the audit session id (/proc/self/sessionid) is not shared (the user manager and D-Bus-activated
// services run outside the login session, and kernels without audit have none), and
// XDG_RUNTIME_DIR is missing in some of them (su, cron, some sudo).
//
// So the endpoint is built from:
//   - the session key: "x11-<n>" for DISPLAY ":<n>" (screen and "unix" host dropped, so ":0",
//     ":0.0" and "unix:0" are one desktop), "x11-<host>-<n>" for a display on another host (ssh
//     forwarding), "wayland-<name>" for a Wayland-only session (WAYLAND_DISPLAY without DISPLAY),
//     "console" without a display (an ssh login, a text console);
//   - the runtime directory: $XDG_RUNTIME_DIR/kavi; without the variable, /run/user/<uid>/kavi
//     when that directory is the user's own (logind's, the same one the variable would name);
//     only then /tmp/kavi-<uid>.
// Two desktops of one user, or a desktop and an ssh login, each get a server of their own; they
// share the user-data folder, whose dictionaries are guarded by their own lock and merge on write.
//
//   <runtime dir>/Kavi.<uid>.<session key>              the socket
//   <runtime dir>/Kavi.Server.<uid>.<session key>.lock  held by the one server
//
// The runtime directory is the socket's security: it must be a directory (not a link) of this
// user, closed to everyone else. A /tmp fallback that another user made first, or that is open,
// is refused rather than repaired, since anything could have been planted in it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace kavi::win {

// What the endpoint is computed from; CurrentSessionEnvironment reads it from the process.
struct SessionEnvironment {
  uid_t uid = 0;
  std::string display;          // DISPLAY
  std::string wayland_display;  // WAYLAND_DISPLAY
  std::string runtime_dir;      // XDG_RUNTIME_DIR
  // Where logind makes each user's runtime directory.
  std::filesystem::path user_runtime_base = "/run/user";
};

SessionEnvironment CurrentSessionEnvironment();

// "x11-0", "wayland-wayland-0", "console": see above.
std::string SessionKey(const SessionEnvironment& env);

struct ServerEndpoint {
  std::filesystem::path directory;
  std::filesystem::path socket;
  std::filesystem::path lock;
};

// The one place the server and every client (libkaviclient, so kavi-client and the IBus engine)
// compute where the server of this user and desktop listens.
ServerEndpoint ServerEndpointFor(const SessionEnvironment& env);
ServerEndpoint CurrentServerEndpoint();

// Creates the runtime directory (0700) when missing and checks that it is this user's and closed
// to others. False with a message saying what is wrong and what to do.
bool PrepareRuntimeDirectory(const std::filesystem::path& dir, std::string* message);

}  // namespace kavi::win
