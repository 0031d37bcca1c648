// SPDX-License-Identifier: Apache-2.0
// Per-key latency through ibus-daemon: the time from process_key_event on an IBus input
// context to its reply, for Kavi and for a peer engine, on the same four sentences typed key by
// key in the same run. Needs a running ibus-daemon with both engines (ibus_key_latency.sh
// sets one up). Prints p50 and p99 of each engine and the ratios.
#include <benchmark/benchmark.h>
#include <ibus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// Four sentences, as pinyin, each committed with space.
const char* const kSentences[] = {
    "zhonghuarenmingongheguo ",
    "jintiantianqizhenhaowomenquzoulu ",
    "woxianzaizaixuexizhongwenshurufa ",
    "zhegewentiwomenmingtianzaitaolun ",
};
constexpr char kKavi[] = "kavi";
constexpr char kPeerEngine[] = "libpinyin";

IBusBus* Bus() {
  static IBusBus* bus = [] {
    ibus_init();
    return ibus_bus_new();
  }();
  return bus;
}

void Pump() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

guint Keysym(char c) {
  return c == ' ' ? IBUS_KEY_space : static_cast<guint>(c);
}

// One input context on `engine`, focused, with a caret.
IBusInputContext* OpenContext(const char* engine) {
  IBusInputContext* context = ibus_bus_create_input_context(Bus(), "kavi-bench");
  if (!context) return nullptr;
  ibus_input_context_set_capabilities(context, IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_FOCUS);
  ibus_input_context_focus_in(context);
  ibus_input_context_set_engine(context, engine);
  for (int i = 0; i < 200; ++i) {
    Pump();
    IBusEngineDesc* desc = ibus_input_context_get_engine(context);
    if (desc && std::string(ibus_engine_desc_get_name(desc)) == engine) break;
    g_usleep(10000);
  }
  ibus_input_context_set_cursor_location(context, 300, 300, 2, 20);
  return context;
}

// Types every sentence once; returns each key press's round trip in microseconds.
std::vector<double> TypeSentences(IBusInputContext* context) {
  std::vector<double> samples;
  for (const char* sentence : kSentences) {
    for (const char* p = sentence; *p; ++p) {
      const auto start = std::chrono::steady_clock::now();
      ibus_input_context_process_key_event(context, Keysym(*p), 0, 0);
      const auto end = std::chrono::steady_clock::now();
      samples.push_back(std::chrono::duration<double, std::micro>(end - start).count());
      ibus_input_context_process_key_event(context, Keysym(*p), 0, IBUS_RELEASE_MASK);
      Pump();
    }
  }
  return samples;
}

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  size_t index = static_cast<size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
  return samples[std::min(index, samples.size() - 1)];
}

std::map<std::string, std::vector<double>>& Samples() {
  static std::map<std::string, std::vector<double>> samples;
  return samples;
}

void BM_KeyThroughIbusDaemon(benchmark::State& state, const char* engine) {
  IBusInputContext* context = OpenContext(engine);
  if (!context) {
    state.SkipWithError("ibus-daemon gave no input context");
    return;
  }
  TypeSentences(context);  // warm-up: the engine loads its dictionaries
  std::vector<double>& all = Samples()[engine];
  for (auto _ : state) {
    std::vector<double> round = TypeSentences(context);
    all.insert(all.end(), round.begin(), round.end());
  }
  state.counters["p50_us"] = Percentile(all, 0.50);
  state.counters["p99_us"] = Percentile(all, 0.99);
  state.counters["keys"] = static_cast<double>(all.size());
  ibus_input_context_focus_out(context);
  g_object_unref(context);
}

BENCHMARK_CAPTURE(BM_KeyThroughIbusDaemon, kavi, kKavi)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyThroughIbusDaemon, libpinyin, kPeerEngine)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!ibus_bus_is_connected(Bus())) {
    std::fprintf(stderr, "no ibus-daemon: run bench/ibus/ibus_key_latency.sh\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  const std::vector<double>& kavi = Samples()[kKavi];
  const std::vector<double>& peer = Samples()[kPeerEngine];
  std::printf("\nper key, process_key_event to reply through ibus-daemon (%zu + %zu presses)\n",
              kavi.size(), peer.size());
  std::printf("%-10s %10s %10s\n", "engine", "p50 us", "p99 us");
  std::printf("%-10s %10.1f %10.1f\n", kKavi, Percentile(kavi, 0.5), Percentile(kavi, 0.99));
  std::printf("%-10s %10.1f %10.1f\n", kPeerEngine, Percentile(peer, 0.5), Percentile(peer, 0.99));
  if (!kavi.empty() && !peer.empty())
    std::printf("ratio %s/%s: p50 %.1fx, p99 %.1fx\n", kPeerEngine, kKavi,
                Percentile(peer, 0.5) / Percentile(kavi, 0.5),
                Percentile(peer, 0.99) / Percentile(kavi, 0.99));
  benchmark::Shutdown();
  return 0;
}
