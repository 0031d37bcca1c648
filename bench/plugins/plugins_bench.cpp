// SPDX-License-Identifier: Apache-2.0
// Query latency of the plug-in engine over the shipped data: the emoji search walks the whole
// emoji file; the calculator parses a 40-character expression.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "plugins/plugin_engine.h"

namespace kavi::win {
namespace {

std::filesystem::path ShippedPluginDir() {
  return std::filesystem::path(KAVI_SOURCE_DIR) / "data" / "plugin";
}

void RunQueries(benchmark::State& state, const std::string& query) {
  PluginEngine engine(ShippedPluginDir());
  PluginContext context;
  context.now = 1707566400;
  if (engine.Query(query, context).items.empty()) {
    state.SkipWithError("the query found nothing");
    return;
  }
  for (auto _ : state) {
    PluginPage page = engine.Query(query, context);
    benchmark::DoNotOptimize(page);
  }
}

void BM_EmojiSearchExact(benchmark::State& state) {
  RunQueries(state, "joy");
}
void BM_EmojiSearchFuzzy(benchmark::State& state) {
  RunQueries(state, "sml");
}

void BM_Calculator40Characters(benchmark::State& state) {
  constexpr char kExpression[] = "(sqrt(2)+3.5)*4^2/7-sin(pi/6)+5!%7*1.25=";
  static_assert(sizeof kExpression - 1 == 40);
  RunQueries(state, kExpression);
}

void BM_SymbolCategory(benchmark::State& state) {
  RunQueries(state, "fhsx");
}
void BM_ComponentLookup(benchmark::State& state) {
  RunQueries(state, "uun");
}
// Two spellings typed together, the second unfinished: the slowest kind of `uu query.
void BM_ComponentPairLookup(benchmark::State& state) {
  RunQueries(state, "uunvz");
}
void BM_EmojiSearchPinyin(benchmark::State& state) {
  RunQueries(state, "xiao");
}
void BM_LunarDate(benchmark::State& state) {
  RunQueries(state, "hln20240210");
}

BENCHMARK(BM_EmojiSearchExact)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EmojiSearchFuzzy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Calculator40Characters)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SymbolCategory)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComponentLookup)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComponentPairLookup)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EmojiSearchPinyin)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LunarDate)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kavi::win

BENCHMARK_MAIN();
