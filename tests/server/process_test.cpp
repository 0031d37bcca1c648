// The server program as a process: one instance per user and session, forwarding, shutdown.
#include <signal.h>
#include <sys/wait.h>

#include <fstream>

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

  pid_t Spawn(const std::vector<std::string>& args) {
    pid_t pid = SpawnChild(std::string(KAVI_BINARY_DIR) + "/bin/KaviServerFake", args, env_);
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

  std::filesystem::path SocketPath() const {
    return ServerSocketPath(home_ / "run" / "kavi", CurrentUserSid(),
                            CurrentSessionId().value_or(0));
  }

  ClientOptions Options() const {
    ClientOptions o;
    o.socket_path = SocketPath();
    o.start_server = false;
    return o;
  }

  std::filesystem::path home_;
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
