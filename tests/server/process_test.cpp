// The server program as a process: one instance per user and session, forwarding, shutdown.
#include <signal.h>
#include <sys/wait.h>

#include <fstream>

#include "platform/server_endpoint.h"
#include "tests/common/child_process.h"
#include "tests/server/server_fixture.h"

namespace kavi::win::testing {
namespace {

class ServerProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = MakeTempDir("proc");
    std::filesystem::create_directories(home_ / "run");
    env_ = {"XDG_RUNTIME_DIR=" + (home_ / "run").string(),
            "XDG_CONFIG_HOME=" + (home_ / "config").string(),
            "XDG_DATA_HOME=" + (home_ / "data").string(), "HOME=" + home_.string(),
            "PATH=/usr/bin:/bin"};
  }
  void TearDown() override {
    for (pid_t pid : running_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    std::filesystem::remove_all(home_);
  }

  pid_t Spawn(const std::vector<std::string>& args, const std::string& display = {}) {
    std::vector<std::string> env = env_;
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    pid_t pid = SpawnChild(std::string(KAVI_BINARY_DIR) + "/bin/KaviServerFake", args, env);
    EXPECT_GT(pid, 0);
    running_.push_back(pid);
    return pid;
  }

  // Waits for the process to end and returns its exit code (-1 on a signal or time-out).
  int Wait(pid_t pid, int timeout_ms = 10000) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        running_.erase(std::remove(running_.begin(), running_.end(), pid), running_.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  std::filesystem::path SocketPath() const { return EndpointFor(display_).socket; }

  ClientOptions Options() const {
    ClientOptions o;
    o.socket_path = SocketPath();
    o.start_server = false;
    return o;
  }

  // The endpoint a process of this home with DISPLAY=display computes.
  ServerEndpoint EndpointFor(const std::string& display) const {
    SessionEnvironment env;
    env.uid = ::getuid();
    env.display = display;
    env.runtime_dir = (home_ / "run").string();
    return ServerEndpointFor(env);
  }

  std::filesystem::path home_;
  std::string display_;
  std::vector<std::string> env_;
  std::vector<pid_t> running_;
};

TEST_F(ServerProcess, OneInstancePerSessionAndForwardedDeepLinks) {
  pid_t server = Spawn({});
  ASSERT_TRUE(WaitForListener(SocketPath(), 5000));
  KaviClient client(Options());
  auto pid = client.Send(RequestKind::QueryServerPid);
  ASSERT_TRUE(pid);
  EXPECT_EQ(+pid->value, static_cast<uint32_t>(server));

  EXPECT_EQ(Wait(Spawn({})), 0);
  // The running server has no voice controller, so it refuses the forwarded stop: exit 5.
  EXPECT_EQ(Wait(Spawn({"kavi://voice?action=stop"})), 5);
  // The first server still serves the same connection.
  EXPECT_TRUE(client.Send(RequestKind::QueryServerPid));

  ::kill(server, SIGTERM);
  EXPECT_EQ(Wait(server), 0);
  EXPECT_FALSE(std::filesystem::exists(SocketPath()));
}

TEST_F(ServerProcess, ShutdownRequestEndsTheProcess) {
  pid_t server = Spawn({});
  ASSERT_TRUE(WaitForListener(SocketPath(), 5000));
  KaviClient idle(Options());  // a second session stays open during the shutdown
  ASSERT_TRUE(idle.Connect());
  KaviClient client(Options());
  auto reply = client.Send(RequestKind::Shutdown);
  ASSERT_TRUE(reply);
  EXPECT_EQ(+reply->kind, static_cast<uint16_t>(ReplyKind::Ok));
  EXPECT_EQ(Wait(server), 0);
  EXPECT_FALSE(idle.Send(RequestKind::QueryServerPid));
}

uint32_t ServerPidAt(const std::filesystem::path& socket) {
  ClientOptions options;
  options.socket_path = socket;
  options.start_server = false;
  KaviClient client(options);
  auto reply = client.Send(RequestKind::QueryServerPid);
  return reply ? reply->value : 0;
}

// One server per user and desktop: the processes of one desktop (whatever their screen number,
// audit session or runtime variables) share it; another desktop gets its own.
TEST_F(ServerProcess, EachDesktopOfAUserHasItsOwnServerAndEveryProcessOfOneFindsIt) {
  const pid_t first = Spawn({}, ":101");
  const ServerEndpoint desktop = EndpointFor(":101");
  ASSERT_TRUE(WaitForListener(desktop.socket, 5000));
  EXPECT_EQ(Wait(Spawn({}, "unix:101.0")), 0);  // the same desktop: already served

  const pid_t second = Spawn({}, ":102");
  const ServerEndpoint other = EndpointFor(":102");
  ASSERT_TRUE(WaitForListener(other.socket, 5000));
  const pid_t console = Spawn({});
  ASSERT_TRUE(WaitForListener(EndpointFor("").socket, 5000));

  EXPECT_EQ(ServerPidAt(EndpointFor(":101.1").socket), static_cast<uint32_t>(first));
  EXPECT_EQ(ServerPidAt(other.socket), static_cast<uint32_t>(second));
  EXPECT_EQ(ServerPidAt(EndpointFor("").socket), static_cast<uint32_t>(console));
}

TEST_F(ServerProcess, ASquatterOnTheSocketPathStopsServing) {
  std::filesystem::create_directories(SocketPath().parent_path());
  std::filesystem::permissions(SocketPath().parent_path(), std::filesystem::perms::owner_all);
  UniqueFd squatter;
  std::string message;
  ASSERT_EQ(ListenSeqpacket(SocketPath(), &squatter, &message), BindResult::Bound);
  pid_t server = Spawn({});
  EXPECT_EQ(Wait(server), 0);
  // The squatter's socket is left alone.
  EXPECT_TRUE(ConnectSeqpacket(SocketPath()).valid());
}

TEST_F(ServerProcess, APrivateSocketDirectoryThatCannotBeMadeEndsWithExitCode3) {
  // Something that is not a directory stands where the private socket directory belongs.
  std::ofstream(home_ / "run" / "kavi") << "in the way";
  EXPECT_EQ(Wait(Spawn({})), 3);
}

}  // namespace
}  // namespace kavi::win::testing
