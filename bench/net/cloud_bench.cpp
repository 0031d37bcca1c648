// SPDX-License-Identifier: Apache-2.0
// What cloud words cost typing:
// - RecordCommit per call, alone and from 4 threads at once (sessions commit on their own
//   threads; the state lock is what they share);
// - the word lists going into the real engine under the engine lock, which keys wait on:
//   5,000 hot words (kavi_cloud_hot_replace) and 100,000 word pairs (clear, add each, rebuild),
//   as the server applies them, and the selection of the 5,000 hot words out of 50,000.
// Run: build/bench/net/kavi_cloud_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "net/cloud_input_manager.h"
#include "ovra/engine_api.h"
#include "server/app/server_cloud_input.h"
#include "server/engine/engine_lock.h"

namespace kavi::win {
namespace {

constexpr size_t kHotWords = kMaxEngineHotWords;
constexpr size_t kServedHotWords = 50000;
constexpr size_t kPairs = 100000;

std::string g_dir;

// Syllables enough to make distinct readings and words.
const char* const kSyllables[] = {"ni", "hao", "shi",  "jie", "zhong", "guo", "ren", "min",
                                  "da", "xue", "dian", "nao", "yu",    "yan", "wen", "zi"};
const char* const kCharacters[] = {"你", "好", "世", "界", "中", "國", "人", "民",
                                   "大", "學", "電", "腦", "語", "言", "文", "字"};

// The i-th of many distinct words of two to four syllables, with its reading.
std::pair<std::string, std::string> Word(size_t i) {
  std::string text, reading;
  size_t n = i + 16;
  do {
    text += kCharacters[n % 16];
    reading += kSyllables[n % 16];
    n /= 16;
  } while (n > 0);
  return {text, reading};
}

CloudInputManager& Manager() {
  static CloudInputManager* manager = [] {
    CloudInputOptions options;
    options.directory = g_dir + "/cloud";
    options.engine_lock = &EngineLock();
    auto* made = new CloudInputManager(std::move(options));
    made->SetEnabled(true, false);  // counting on; no worker, so nothing is sent
    return made;
  }();
  return *manager;
}

// Commits of 1,000 distinct words in turn: the maps stay below their 5,000-member limit.
void BM_RecordCommit(benchmark::State& state) {
  std::vector<std::pair<std::string, std::string>> words;
  for (size_t i = 0; i < 1000; ++i) words.push_back(Word(i + state.thread_index() * 1000));
  CloudInputManager& manager = Manager();
  size_t i = 0;
  for (auto _ : state) {
    const auto& [text, reading] = words[i++ % words.size()];
    manager.RecordCommit(text, reading);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordCommit)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_RecordCommit)->Threads(4)->UseRealTime()->Unit(benchmark::kNanosecond);

std::vector<CloudHotItem> ServedHotWords(size_t count) {
  std::mt19937 random(7);
  std::vector<CloudHotItem> items;
  items.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    auto [text, reading] = Word(i);
    items.push_back({text, reading, static_cast<double>(random() % 100000)});
  }
  return items;
}

void BM_SelectHotWords(benchmark::State& state) {
  const std::vector<CloudHotItem> served = ServedHotWords(kServedHotWords);
  for (auto _ : state) {
    std::vector<CloudHotItem> items = served;
    SelectHotWords(&items, kMaxEngineHotWords);
    benchmark::DoNotOptimize(items.data());
  }
}
BENCHMARK(BM_SelectHotWords)->Unit(benchmark::kMillisecond);

// The engine lock's hold time for one hot-word snapshot.
void BM_ApplyHotWords(benchmark::State& state) {
  const std::vector<CloudHotItem> words = ServedHotWords(kHotWords);
  for (auto _ : state) {
    std::lock_guard<std::mutex> hold(EngineLock());
    benchmark::DoNotOptimize(server::ApplyHotWordsToEngine(words));
  }
}
BENCHMARK(BM_ApplyHotWords)->Unit(benchmark::kMillisecond)->UseRealTime();

// The engine lock's hold time for one word-pair snapshot.
void BM_ApplyWordPairs(benchmark::State& state) {
  std::vector<CloudBigramItem> pairs;
  pairs.reserve(kPairs);
  for (size_t i = 0; i < kPairs; ++i)
    pairs.push_back({Word(i % 4000).first, Word(i / 4000 + 17).first, 1.0 + i % 97});
  for (auto _ : state) {
    std::lock_guard<std::mutex> hold(EngineLock());
    benchmark::DoNotOptimize(server::ApplyWordPairsToEngine(pairs));
  }
}
BENCHMARK(BM_ApplyWordPairs)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kavi::win

int main(int argc, char** argv) {
  char pattern[] = "/tmp/kavi-cloud-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  kavi::win::g_dir = pattern;
  const std::string shared = std::string(KAVI_SOURCE_DIR) + "/data";
  const std::string logs = kavi::win::g_dir + "/logs";
  KaviTraits traits{shared.c_str(), pattern, logs.c_str(), "Kavi",
                    "kavi-win",     "0.5.1", "KaviServer", 1};
  {
    std::lock_guard<std::mutex> hold(kavi::win::EngineLock());
    kavi_setup(&traits);
    kavi_initialize();
    kavi_cloud_init();
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  {
    std::lock_guard<std::mutex> hold(kavi::win::EngineLock());
    kavi_finalize();
  }
  std::filesystem::remove_all(kavi::win::g_dir);
  return 0;
}
