// SPDX-License-Identifier: Apache-2.0
// Start-up of the real server, with a new home (cold: the data generation is made) and with a
// home that already has one (warm): from exec to the socket accepting a connection, to the
// handshake, and to the answer to the first key (FocusIn, then "n" typed, answered with
// candidates). The client waits 200 ms for a server it started. Each start is measured without a
// display, and again on the X display of the environment (DISPLAY) when there is one, where the
// server also builds its candidate window and its tray. load_avg_1m is the machine's load when
// the runs ended: the machine may be shared.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdlib>

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
    env.display = display;
    env.runtime_dir = (root / "run").string();
    return ServerEndpointFor(env).socket;
  }
  std::filesystem::path root;
  std::string display;  // the server's, which also names its socket
};

struct StartTimes {
  double accepting = -1;  // seconds from exec
  double handshake = -1;
  double first_key = -1;
};

// Starts the server, times it, then stops it.
StartTimes TimedStart(const Home& home) {
  std::string program = std::string(KAVI_BINARY_DIR) + "/bin/KaviServer";
  std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + (home.root / "run").string(),
                                  "XDG_CONFIG_HOME=" + (home.root / "config").string(),
                                  "XDG_DATA_HOME=" + (home.root / "data").string(),
                                  "HOME=" + home.root.string()};
  if (!home.display.empty()) {
    env.push_back("DISPLAY=" + home.display);
    // A desktop's session bus, when the environment has one, for the tray's indicator.
    if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
      env.push_back(std::string("DBUS_SESSION_BUS_ADDRESS=") + bus);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {program.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  auto since_start = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  pid_t pid = 0;
  posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ClientOptions options;
  options.socket_path = home.socket();
  options.start_server = false;
  options.transaction_timeout_ms = 10000;  // measured here, not limited
  StartTimes times;
  KaviClient client(options);
  while (since_start() < 60) {
    if (ConnectSeqpacketWithin(options.socket_path, 0).valid()) {
      times.accepting = since_start();
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (times.accepting >= 0 && client.Connect()) {
    times.handshake = since_start();
    auto focus = client.Send(RequestKind::FocusIn, 1);
    auto key = client.SendKey('n', 0, 1);
    if (focus && key && key->result == 1 && key->candidate_count > 0)
      times.first_key = since_start();
    client.Send(RequestKind::Shutdown);
  }
  int status = 0;
  if (times.first_key < 0) ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return times;
}

void Report(benchmark::State& state, const std::vector<StartTimes>& runs) {
  double accepting = 0, handshake = 0, first_key = 0;
  for (const StartTimes& t : runs) {
    accepting += t.accepting;
    handshake += t.handshake;
    first_key += t.first_key;
  }
  const double n = static_cast<double>(runs.size());
  state.counters["accepting_ms"] = accepting / n * 1000;
  state.counters["handshake_ms"] = handshake / n * 1000;
  state.counters["first_key_ms"] = first_key / n * 1000;
  double load[1] = {0};
  if (::getloadavg(load, 1) == 1) state.counters["load_avg_1m"] = load[0];
}

// The display the server is started on: none, or the environment's.
std::string DisplayFor(benchmark::State& state) {
  if (state.range(0) == 0) return {};
  const char* display = std::getenv("DISPLAY");
  return display ? display : "";
}

bool SkipWithoutDisplay(benchmark::State& state, const std::string& display) {
  if (state.range(0) == 0 || !display.empty()) return false;
  state.SkipWithError("no DISPLAY");
  for (auto _ : state) {
  }
  return true;
}

// The iteration time is exec to the first key answered.
void BM_ColdStart(benchmark::State& state) {
  const std::string display = DisplayFor(state);
  if (SkipWithoutDisplay(state, display)) return;
  std::vector<StartTimes> runs;
  for (auto _ : state) {
    Home home;
    home.display = display;
    const StartTimes t = TimedStart(home);
    if (t.first_key < 0) state.SkipWithError("the server did not answer a key");
    state.SetIterationTime(t.first_key);
    runs.push_back(t);
  }
  Report(state, runs);
}
BENCHMARK(BM_ColdStart)
    ->ArgName("display")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_WarmStart(benchmark::State& state) {
  const std::string display = DisplayFor(state);
  if (SkipWithoutDisplay(state, display)) return;
  Home home;
  home.display = display;
  TimedStart(home);  // makes the generation
  std::vector<StartTimes> runs;
  for (auto _ : state) {
    const StartTimes t = TimedStart(home);
    if (t.first_key < 0) state.SkipWithError("the server did not answer a key");
    state.SetIterationTime(t.first_key);
    runs.push_back(t);
  }
  Report(state, runs);
}
BENCHMARK(BM_WarmStart)
    ->ArgName("display")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavi::win

BENCHMARK_MAIN();
