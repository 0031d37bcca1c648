// SPDX-License-Identifier: Apache-2.0
// Per key, the time from a key event sent to the real KaviServer to its reply, with the
// candidate window drawn on a private Xvfb, and the same server without a display; in the same
// run, Fcitx 5 with its pinyin engine (libime, as Kavi's engine) through its D-Bus front end
// with its own candidate window on the same Xvfb (../shared/bench-tools/fcitx_peer_bench.sh, a
// black-box baseline). The four sentences are the peer script's, typed key by key with a space
// after each. Prints p50 and p99 of each and the ratios.
//
//   kavi_key_latency_bench [--reps=N] [--peer-script=PATH] [benchmark flags]
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/kavi_client.h"
#include "platform/identity.h"
#include "platform/ipc.h"
#include "platform/server_endpoint.h"
#include "protocol/keysyms.h"
#include "tests/common/child_process.h"
// Last: Xlib's headers define FocusIn as a macro.
#include "tests/candidate/x_server.h"
#undef FocusIn

namespace kavi::win {
namespace {

using Clock = std::chrono::steady_clock;

const char* const kSentences[] = {"zhegexiangmuhenyouyisi", "woaibeijingtiananmen",
                                  "jintiantianqizhenhao", "zhonghuarenmingongheguo"};
// What a typing user's client would send between sentences while the commit settles, as the
// peer script pauses.
constexpr auto kPauseAfterSentence = std::chrono::milliseconds(30);

int g_reps = 10;
std::string g_peer_script = (std::filesystem::path(KAVI_SOURCE_DIR) / ".." / "shared" /
                             "bench-tools" / "fcitx_peer_bench.sh")
                                .lexically_normal()
                                .string();

// One Xvfb for the whole run: Kavi and the peer draw on the same display.
testing::PrivateXServer& Display() {
  static testing::PrivateXServer x;
  return x;
}

struct Percentiles {
  double p50 = 0;
  double p99 = 0;
  size_t n = 0;
};

// The same picking as the peer script: the sorted sample at n/2 and n*99/100.
Percentiles Summarise(std::vector<double> samples) {
  Percentiles p;
  if (samples.empty()) return p;
  std::sort(samples.begin(), samples.end());
  p.n = samples.size();
  p.p50 = samples[samples.size() / 2];
  p.p99 = samples[samples.size() * 99 / 100];
  return p;
}

std::map<std::string, Percentiles>& Results() {
  static std::map<std::string, Percentiles> results;
  return results;
}

// A KaviServer child with folders of its own, on the given display (none when empty).
class ServerChild {
 public:
  explicit ServerChild(const std::string& display) : display_(display) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavi-latency-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(root_ / "run");
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + (root_ / "run").string(),
                                    "XDG_CONFIG_HOME=" + (root_ / "config").string(),
                                    "XDG_DATA_HOME=" + (root_ / "data").string(),
                                    "HOME=" + root_.string(), "PATH=/usr/bin:/bin"};
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    pid_ =
        testing::SpawnChild(std::filesystem::path(KAVI_BINARY_DIR) / "bin" / "KaviServer", {}, env);
  }
  ~ServerChild() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::error_code error;
    std::filesystem::remove_all(root_, error);
  }

  ClientOptions Options() const {
    ClientOptions o;
    SessionEnvironment env;
    env.uid = ::getuid();
    env.display = display_;
    env.runtime_dir = (root_ / "run").string();
    o.socket_path = ServerEndpointFor(env).socket;
    o.start_server = false;
    o.transaction_timeout_ms = 5000;
    return o;
  }

  // Serving, with the scheme loaded.
  bool Ready() {
    if (pid_ <= 0 || !WaitForListener(Options().socket_path, 30000)) return false;
    KaviClient client(Options());
    for (int i = 0; i < 300; ++i) {
      if (client.Send(RequestKind::FocusIn, 1)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

 private:
  std::string display_;  // the socket is named after it
  std::filesystem::path root_;
  pid_t pid_ = -1;
};

// A typing client of one server, with the caret set so that the window shows.
struct Typist {
  explicit Typist(const ServerChild& server) : client(server.Options()) {
    client.Send(RequestKind::FocusIn, 1);
    PipeRequest caret = MakeRequest(RequestKind::SetCaretRect);
    caret.context_id = 1;
    caret.rect = {300, 300, 302, 320};
    caret.argument = 1;
    client.Transact(caret);
  }

  // Types one sentence key by key and commits it with space; false when a key was not taken.
  bool Type(const char* sentence, bool record) {
    for (const char* p = sentence; *p; ++p) {
      const auto start = Clock::now();
      auto reply = client.SendKey(static_cast<uint32_t>(*p), 0, 1);
      const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
      if (!reply || reply->result != 1) return false;
      if (record) samples.push_back(us);
    }
    auto reply = client.SendKey(keys::kSpace, 0, 1);
    if (!reply) return false;
    if (record && reply->has_commit) last_commit = std::string(TextFieldView(reply->commit_text));
    return true;
  }

  KaviClient client;
  std::vector<double> samples;
  std::string last_commit;
};

// Both servers run at once and take turns sentence by sentence, so that what else the machine
// does weighs on both alike; while one types, the other's window stands still.
void BM_KaviPerKey(benchmark::State& state) {
  if (Display().name().empty()) {
    state.SkipWithError("no Xvfb");
    return;
  }
  ServerChild with_window(Display().name());
  ServerChild headless("");
  if (!with_window.Ready() || !headless.Ready()) {
    state.SkipWithError("KaviServer did not start");
    return;
  }
  Typist window(with_window);
  Typist bare(headless);
  std::string commits;
  int turn = 0;
  for (auto _ : state) {
    // The first round warms up: the engine's dictionaries and model pages, the window's fonts.
    for (int r = 0; r <= g_reps; ++r) {
      for (const char* sentence : kSentences) {
        // Which goes first changes every sentence: the second of a pair types right after
        // the first one's commit (and its learning), which weighs on it.
        const bool window_first = (turn++ % 2) == 0;
        for (Typist* typist : {window_first ? &window : &bare, window_first ? &bare : &window}) {
          if (!typist->Type(sentence, r > 0)) {
            state.SkipWithError("a key was not taken");
            return;
          }
          std::this_thread::sleep_for(kPauseAfterSentence);
        }
        if (r == g_reps) commits += window.last_commit + " ";
      }
    }
  }
  const Percentiles on = Summarise(window.samples);
  const Percentiles off = Summarise(bare.samples);
  Results()["window"] = on;
  Results()["headless"] = off;
  state.counters["window_p50_us"] = on.p50;
  state.counters["window_p99_us"] = on.p99;
  state.counters["no_display_p50_us"] = off.p50;
  state.counters["no_display_p99_us"] = off.p99;
  state.SetLabel(commits);
}
BENCHMARK(BM_KaviPerKey)->Iterations(1)->Unit(benchmark::kMillisecond);

// The peer script's last line: "fcitx5+pinyin per-key us: p50=.. p99=.. n=..".
void BM_Fcitx5PinyinPerKey(benchmark::State& state) {
  if (Display().name().empty() || !std::filesystem::exists(g_peer_script)) {
    state.SkipWithError(("no Xvfb or no " + g_peer_script).c_str());
    return;
  }
  for (auto _ : state) {
    const std::string command =
        "bash '" + g_peer_script + "' " + std::to_string(g_reps) + " " + Display().name() + " 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) break;
    char line[4096];
    std::string text;
    while (std::fgets(line, sizeof line, out)) text += line;
    ::pclose(out);
    const size_t at = text.find("per-key us:");
    Percentiles p;
    unsigned long n = 0;
    if (at == std::string::npos ||
        std::sscanf(text.c_str() + at, "per-key us: p50=%lf p99=%lf n=%lu", &p.p50, &p.p99, &n) !=
            3) {
      state.SkipWithError(("the peer script printed no result:\n" + text).c_str());
      return;
    }
    p.n = n;
    Results()["fcitx5"] = p;
    state.counters["p50_us"] = p.p50;
    state.counters["p99_us"] = p.p99;
    state.counters["keys"] = static_cast<double>(n);
    const size_t commits = text.find("last commits:");
    if (commits != std::string::npos) {
      state.SetLabel(text.substr(commits + 14, text.find('\n', commits) - commits - 14));
    }
  }
}
BENCHMARK(BM_Fcitx5PinyinPerKey)->Iterations(1)->Unit(benchmark::kMillisecond);

void PrintSummary() {
  auto& r = Results();
  std::printf("\nper key press, request to reply, %d x the four sentences\n", g_reps);
  std::printf("%-32s %10s %10s %8s\n", "", "p50 us", "p99 us", "keys");
  const std::pair<const char*, const char*> rows[] = {{"window", "Kavi, window drawn on Xvfb"},
                                                      {"headless", "Kavi, no display"},
                                                      {"fcitx5", "Fcitx 5 + pinyin, its window"}};
  for (auto [key, name] : rows) {
    if (!r.count(key)) continue;
    std::printf("%-32s %10.0f %10.0f %8zu\n", name, r[key].p50, r[key].p99, r[key].n);
  }
  if (r.count("window") && r.count("fcitx5") && r["window"].p50 > 0) {
    std::printf("Fcitx 5 / Kavi with window:      p50 %.2fx, p99 %.2fx (faster when above 1)\n",
                r["fcitx5"].p50 / r["window"].p50, r["fcitx5"].p99 / r["window"].p99);
  }
  if (r.count("window") && r.count("headless") && r["headless"].p50 > 0) {
    std::printf("Kavi with window / no display:   p50 %.2fx, p99 %.2fx\n",
                r["window"].p50 / r["headless"].p50, r["window"].p99 / r["headless"].p99);
  }
}

}  // namespace
}  // namespace kavi::win

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--reps=", 7) == 0) {
      kavi::win::g_reps = std::max(1, std::atoi(argv[i] + 7));
    } else if (std::strncmp(argv[i], "--peer-script=", 14) == 0) {
      kavi::win::g_peer_script = argv[i] + 14;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  kavi::win::PrintSummary();
  benchmark::Shutdown();
  return 0;
}
