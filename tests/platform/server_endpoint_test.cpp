// SPDX-License-Identifier: Apache-2.0
// Which server a process finds: one per user and desktop, whatever else differs between the
// processes of that desktop.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/server_endpoint.h"
#include "tests/common/temp_dir.h"

namespace kavi::win {
namespace {
namespace fs = std::filesystem;
using testing::TempDir;

TEST(ServerEndpointTest, TheSessionKeyIsTheDesktopsDisplay) {
  struct Case {
    const char* display;
    const char* wayland;
    const char* key;
  };
  for (const Case& c : {
           Case{":0", "", "x11-0"},
           Case{":0.0", "", "x11-0"},         // the screen is the same desktop
           Case{"unix:0", "", "x11-0"},       // so is the explicit local host
           Case{":0", "wayland-0", "x11-0"},  // Xwayland and Wayland clients of one desktop
           Case{":12.1", "", "x11-12"},
           Case{"localhost:10.0", "", "x11-localhost-10"},  // ssh forwarding: another desktop
           Case{"", "wayland-0", "wayland-wayland-0"},
           Case{"", "/run/user/1000/wayland-1", "wayland-wayland-1"},
           Case{"", "", "console"},
           Case{"nonsense", "", "console"},
           Case{":x", "", "console"},
           Case{"../../etc:1", "", "x11-______etc-1"},
       }) {
    SessionEnvironment env;
    env.display = c.display;
    env.wayland_display = c.wayland;
    EXPECT_EQ(SessionKey(env), c.key) << c.display << " " << c.wayland;
  }
}

TEST(ServerEndpointTest, ProcessesWithAndWithoutXdgRuntimeDirFindTheSameServer) {
  TempDir dir;
  const uid_t uid = ::getuid();
  const fs::path logind = dir.path() / std::to_string(uid);
  SessionEnvironment terminal;
  terminal.uid = uid;
  terminal.display = ":0";
  terminal.runtime_dir = logind.string();
  terminal.user_runtime_base = dir.path();
  SessionEnvironment unit = terminal;  // a unit started before the variable was imported
  unit.runtime_dir.clear();
  unit.display = "unix:0.0";

  const std::string uid_text = std::to_string(uid);
  ServerEndpoint endpoint = ServerEndpointFor(terminal);
  EXPECT_EQ(endpoint.directory, logind / "kavi");
  EXPECT_EQ(endpoint.socket, logind / "kavi" / ("Kavi." + uid_text + ".x11-0"));
  EXPECT_EQ(endpoint.lock, logind / "kavi" / ("Kavi.Server." + uid_text + ".x11-0.lock"));

  // Without logind's directory the fallback is the user's own folder in /tmp...
  EXPECT_EQ(ServerEndpointFor(unit).directory, fs::path("/tmp/kavi-" + uid_text));
  // ...with it, the very same endpoint as the terminal's.
  fs::create_directory(logind);
  fs::permissions(logind, fs::perms::owner_all);
  EXPECT_EQ(ServerEndpointFor(unit).socket, endpoint.socket);
  // A logind directory open to others is not taken for one.
  fs::permissions(logind, fs::perms::owner_all | fs::perms::others_exec);
  EXPECT_EQ(ServerEndpointFor(unit).directory, fs::path("/tmp/kavi-" + uid_text));

  SessionEnvironment ssh = terminal;
  ssh.display.clear();
  EXPECT_NE(ServerEndpointFor(ssh).socket, endpoint.socket);
}

TEST(ServerEndpointTest, ARuntimeDirectoryThatIsNotPrivatelyOursIsRefusedAndLeftAlone) {
  TempDir dir;
  std::string message;
  const fs::path fresh = dir.path() / "fresh";
  const mode_t old_umask = ::umask(0);
  ASSERT_TRUE(PrepareRuntimeDirectory(fresh, &message)) << message;
  ::umask(old_umask);
  EXPECT_EQ(fs::status(fresh).permissions(), fs::perms::owner_all);
  EXPECT_TRUE(PrepareRuntimeDirectory(fresh, &message));

  const fs::path open = dir.path() / "open";
  fs::create_directory(open);
  fs::permissions(open, fs::perms::all);
  EXPECT_FALSE(PrepareRuntimeDirectory(open, &message));
  EXPECT_NE(message.find("open to other users (mode 0777)"), std::string::npos) << message;
  EXPECT_NE(message.find("XDG_RUNTIME_DIR"), std::string::npos) << message;
  EXPECT_EQ(fs::status(open).permissions(), fs::perms::all);  // not "repaired"

  const fs::path link = dir.path() / "link";
  fs::create_directory_symlink(fresh, link);
  EXPECT_FALSE(PrepareRuntimeDirectory(link, &message));
  EXPECT_NE(message.find("not a directory"), std::string::npos) << message;

  if (::getuid() == 0) {
    // Another user made the fallback first.
    const fs::path squatted = dir.path() / "squatted";
    fs::create_directory(squatted);
    fs::permissions(squatted, fs::perms::owner_all);
    ASSERT_EQ(::chown(squatted.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(PrepareRuntimeDirectory(squatted, &message));
    EXPECT_NE(message.find("belongs to uid 65534"), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace kavi::win
