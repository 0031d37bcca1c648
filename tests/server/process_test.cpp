// SPDX-License-Identifier: Apache-2.0
// The server program as a process: one instance per user and session, forwarding, shutdown.
#include <signal.h>
#include <sys/prctl.h>
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

  TempDir temp_;
  const std::filesystem::path home_ = temp_.path();
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
  EXPECT_EQ(+reply->kind, kOk);
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

TEST_F(ServerProcess, ANonDumpableClientIsServed) {
  // Only root can play a server and a client of another user, where the client's executable
  // cannot be read.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the pair as another user";
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a forked child of a ThreadSanitizer process reports its own fork";
#endif
  constexpr uid_t kNobody = 65534;
  std::filesystem::permissions(home_, std::filesystem::perms::all);
  for (const char* dir : {"run", "config", "data"}) {
    std::filesystem::create_directories(home_ / dir);
    ASSERT_EQ(::chown((home_ / dir).c_str(), kNobody, kNobody), 0);
  }
  SessionEnvironment nobody;
  nobody.uid = kNobody;
  nobody.runtime_dir = (home_ / "run").string();
  const std::filesystem::path socket = ServerEndpointFor(nobody).socket;
  const pid_t server = ::fork();
  if (server == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(126);
    std::vector<char*> envp;
    for (auto& e : env_) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string program = std::string(KAVI_BINARY_DIR) + "/bin/KaviServerFake";
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execve(argv[0], argv, envp.data());
    ::_exit(127);
  }
  running_.push_back(server);
  const pid_t client = ::fork();
  if (client == 0) {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(126);
    ::prctl(PR_SET_DUMPABLE, 0);
    ClientOptions options;
    options.socket_path = socket;
    options.start_server = false;
    options.transaction_timeout_ms = 5000;
    if (!WaitForListener(socket, 10000)) ::_exit(3);
    KaviClient kavi(options);
    auto reply = kavi.Send(RequestKind::QueryServerPid);
    ::_exit(reply && reply->kind == kOk ? 0 : 1);
  }
  running_.push_back(client);
  EXPECT_EQ(Wait(client, 20000), 0) << "the non-dumpable client was not served";
}

}  // namespace
}  // namespace kavi::win::testing
