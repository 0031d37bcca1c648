// Start-up of the real server: from process start to the first Ok handshake reply, with a new
// home (cold: the data generation is copied) and with a home that already has one (warm).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "client/kavi_client.h"
#include "platform/identity.h"
#include "platform/ipc.h"
#include "platform/server_endpoint.h"

extern char** environ;

namespace kavi::win {
namespace {

struct Home {
  Home() {
    std::string pattern = "/tmp/kavi-start-XXXXXX";
    root = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(root / "run");
  }
  ~Home() { std::filesystem::remove_all(root); }
  std::filesystem::path socket() const {
    SessionEnvironment env;
    env.uid = ::getuid();
    env.runtime_dir = (root / "run").string();
    return ServerEndpointFor(env).socket;
  }
  std::filesystem::path root;
};

// Starts the server, returns the seconds until the handshake succeeded, then stops it.
double TimedStart(const Home& home) {
  std::string program = std::string(KAVI_BINARY_DIR) + "/bin/KaviServer";
  std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + (home.root / "run").string(),
                                  "XDG_CONFIG_HOME=" + (home.root / "config").string(),
                                  "XDG_DATA_HOME=" + (home.root / "data").string(),
                                  "HOME=" + home.root.string()};
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {program.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ClientOptions options;
  options.socket_path = home.socket();
  options.start_server = false;
  double seconds = -1;
  for (;;) {
    if (ConnectSeqpacket(options.socket_path).valid()) {
      KaviClient client(options);
      if (client.Connect()) {
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        client.Send(RequestKind::Shutdown);
        break;
      }
    }
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(60)) break;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  int status = 0;
  if (seconds < 0) ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return seconds;
}

void BM_ColdStart(benchmark::State& state) {
  for (auto _ : state) {
    Home home;
    double s = TimedStart(home);
    if (s < 0) state.SkipWithError("the server did not come up");
    state.SetIterationTime(s);
  }
}
BENCHMARK(BM_ColdStart)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WarmStart(benchmark::State& state) {
  Home home;
  TimedStart(home);  // makes the generation
  for (auto _ : state) {
    double s = TimedStart(home);
    if (s < 0) state.SkipWithError("the server did not come up");
    state.SetIterationTime(s);
  }
}
BENCHMARK(BM_WarmStart)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavi::win

BENCHMARK_MAIN();
