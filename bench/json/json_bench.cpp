// Parse and serialise throughput of the JSON library against nlohmann::json on the documents the
// server handles: a cloud word snapshot, a scheme pack manifest and many small service replies.
// Prints MB/s for both libraries and their ratio (the best of the repetitions), e.g.
//   kavi_json_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "config/json.h"

namespace {

using kavi::win::JsonValue;

constexpr const char* kSyllables[] = {"zhong", "wen", "shu", "ru",  "fa", "yun", "duan", "ci",
                                      "hui",   "pin", "yin", "xin", "ci", "re",  "men",  "jian"};
constexpr const char* kHanzi[] = {"中", "文", "輸", "入", "法", "雲", "端", "詞",
                                  "彙", "拼", "音", "新", "熱", "門", "鍵", "盤"};

// Cloud hot words: an array of small objects with short strings and numbers.
std::string MakeCloudSnapshot(size_t target_bytes) {
  std::mt19937 random(1);
  std::string text = "{\"generated_ms\":1733450000000,\"kind\":\"hot\",\"items\":[";
  for (int i = 0; text.size() < target_bytes; ++i) {
    if (i > 0) text += ',';
    std::string word, pinyin;
    const int length = 2 + static_cast<int>(random() % 3);
    for (int k = 0; k < length; ++k) {
      const size_t s = random() % 16;
      word += kHanzi[s];
      if (k > 0) pinyin += ' ';
      pinyin += kSyllables[s];
    }
    text += "{\"word\":\"" + word + "\",\"pinyin\":\"" + pinyin +
            "\",\"weight\":" + std::to_string(random() % 100000) + "." +
            std::to_string(random() % 1000) + ",\"rank\":" + std::to_string(i) +
            ",\"updated_ms\":" + std::to_string(1733450000000LL + random() % 86400000) +
            ",\"source\":\"cloud\",\"pinned\":" + (random() % 7 == 0 ? "true" : "false") + "}";
  }
  return text + "]}";
}

// Scheme packs: nested objects with long hex digests, URLs and descriptions.
std::string MakeManifest(size_t target_bytes) {
  std::mt19937 random(2);
  auto hex = [&](int length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < length; ++i) out += kDigits[random() % 16];
    return out;
  };
  std::string text = "{\"schema_version\":3,\"packs\":[";
  for (int i = 0; text.size() < target_bytes; ++i) {
    if (i > 0) text += ',';
    text += "{\"id\":\"pack-" + std::to_string(i) + "\",\"name\":\"詞庫包 " + std::to_string(i) +
            "\",\"version\":\"1." + std::to_string(i % 10) + "." + std::to_string(i % 7) +
            "\",\"size\":" + std::to_string(100000 + random() % 90000000) + ",\"sha256\":\"" +
            hex(64) + "\",\"url\":\"https://packs.example.invalid/v3/" + hex(16) +
            "/pack.zip\",\"description\":\"常用詞彙與專業術語，含\\\"引號\\\"與\\n換行\"," +
            "\"min_app_version\":\"0.5.0\",\"files\":[";
    for (int f = 0; f < 4; ++f) {
      if (f > 0) text += ',';
      text += "{\"path\":\"dict/part" + std::to_string(f) +
              ".dict\",\"size\":" + std::to_string(random() % 10000000) + ",\"sha256\":\"" +
              hex(64) + "\"}";
    }
    text += "],\"tags\":[\"pinyin\",\"table\",\"extra\"],\"ratio\":0." +
            std::to_string(random() % 1000000) + "}";
  }
  return text + "]}";
}

// Service replies: a few hundred bytes each.
std::vector<std::string> MakeSmallReplies(size_t count) {
  std::vector<std::string> replies;
  for (size_t i = 0; i < count; ++i) {
    replies.push_back("{\"ok\":true,\"code\":0,\"request_id\":\"r-" + std::to_string(i) +
                      "\",\"text\":\"翻譯結果：你好世界 " + std::to_string(i) +
                      "\",\"elapsed_ms\":" + std::to_string(i % 500) +
                      ".25,\"rate_limited_until_ms\":0,\"alternatives\":[\"Hello\",\"Hi\"]," +
                      "\"usage\":{\"chars\":" + std::to_string(i % 80) + ",\"quota\":100000}}");
  }
  return replies;
}

const std::string& CloudSnapshot() {
  static const std::string text = MakeCloudSnapshot(1 << 20);
  return text;
}
const std::string& Manifest() {
  static const std::string text = MakeManifest(4 << 20);
  return text;
}
const std::vector<std::string>& SmallReplies() {
  static const std::vector<std::string> replies = MakeSmallReplies(5000);
  return replies;
}
size_t TotalBytes(const std::vector<std::string>& texts) {
  size_t total = 0;
  for (const std::string& text : texts) total += text.size();
  return total;
}

void ParseKavi(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    JsonValue value;
    if (!kavi::win::server::ParseJson(text, &value, nullptr)) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void ParseNlohmann(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    nlohmann::json value = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void SerializeKavi(benchmark::State& state, const std::string& text) {
  JsonValue value;
  kavi::win::server::ParseJson(text, &value, nullptr);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out = kavi::win::server::SerializeJson(value);
    bytes = out.size();
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void SerializeNlohmann(benchmark::State& state, const std::string& text) {
  const nlohmann::json value = nlohmann::json::parse(text);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out = value.dump();
    bytes = out.size();
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_Parse_Kavi_CloudSnapshot1MiB(benchmark::State& s) {
  ParseKavi(s, CloudSnapshot());
}
void BM_Parse_Nlohmann_CloudSnapshot1MiB(benchmark::State& s) {
  ParseNlohmann(s, CloudSnapshot());
}
void BM_Parse_Kavi_Manifest4MiB(benchmark::State& s) {
  ParseKavi(s, Manifest());
}
void BM_Parse_Nlohmann_Manifest4MiB(benchmark::State& s) {
  ParseNlohmann(s, Manifest());
}
void BM_Serialize_Kavi_CloudSnapshot1MiB(benchmark::State& s) {
  SerializeKavi(s, CloudSnapshot());
}
void BM_Serialize_Nlohmann_CloudSnapshot1MiB(benchmark::State& s) {
  SerializeNlohmann(s, CloudSnapshot());
}
void BM_Serialize_Kavi_Manifest4MiB(benchmark::State& s) {
  SerializeKavi(s, Manifest());
}
void BM_Serialize_Nlohmann_Manifest4MiB(benchmark::State& s) {
  SerializeNlohmann(s, Manifest());
}

void BM_Parse_Kavi_SmallReplies(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& text : SmallReplies()) {
      JsonValue value;
      kavi::win::server::ParseJson(text, &value, nullptr);
      benchmark::DoNotOptimize(value);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(SmallReplies())));
}
void BM_Parse_Nlohmann_SmallReplies(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& text : SmallReplies()) {
      nlohmann::json value = nlohmann::json::parse(text);
      benchmark::DoNotOptimize(value);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(SmallReplies())));
}
void BM_Serialize_Kavi_SmallReplies(benchmark::State& state) {
  std::vector<JsonValue> values(SmallReplies().size());
  for (size_t i = 0; i < values.size(); ++i) {
    kavi::win::server::ParseJson(SmallReplies()[i], &values[i], nullptr);
  }
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (const JsonValue& value : values) {
      std::string out = kavi::win::server::SerializeJson(value);
      bytes += out.size();
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
void BM_Serialize_Nlohmann_SmallReplies(benchmark::State& state) {
  std::vector<nlohmann::json> values;
  for (const std::string& text : SmallReplies()) values.push_back(nlohmann::json::parse(text));
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (const nlohmann::json& value : values) {
      std::string out = value.dump();
      bytes += out.size();
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

BENCHMARK(BM_Parse_Kavi_CloudSnapshot1MiB);
BENCHMARK(BM_Parse_Nlohmann_CloudSnapshot1MiB);
BENCHMARK(BM_Parse_Kavi_Manifest4MiB);
BENCHMARK(BM_Parse_Nlohmann_Manifest4MiB);
BENCHMARK(BM_Parse_Kavi_SmallReplies);
BENCHMARK(BM_Parse_Nlohmann_SmallReplies);
BENCHMARK(BM_Serialize_Kavi_CloudSnapshot1MiB);
BENCHMARK(BM_Serialize_Nlohmann_CloudSnapshot1MiB);
BENCHMARK(BM_Serialize_Kavi_Manifest4MiB);
BENCHMARK(BM_Serialize_Nlohmann_Manifest4MiB);
BENCHMARK(BM_Serialize_Kavi_SmallReplies);
BENCHMARK(BM_Serialize_Nlohmann_SmallReplies);

// Keeps each run's throughput so the ratios can be printed after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With --benchmark_repetitions the best run counts: on a shared machine the slower runs
    // measure the neighbours.
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      double& best = mb_per_second_[run.run_name.function_name];
      best = std::max(best, it->second.value / 1e6);
    }
  }

  void PrintRatios() const {
    std::printf("\n%-32s %14s %14s %8s\n", "operation / document", "kavi MB/s", "nlohmann MB/s",
                "ratio");
    for (const auto& [name, kavi] : mb_per_second_) {
      const size_t kavi_at = name.find("_Kavi_");
      if (kavi_at == std::string::npos) continue;
      std::string other = name;
      other.replace(kavi_at, 6, "_Nlohmann_");
      auto it = mb_per_second_.find(other);
      if (it == mb_per_second_.end() || it->second <= 0) continue;
      const std::string label = name.substr(3, kavi_at - 3) + " / " + name.substr(kavi_at + 6);
      std::printf("%-32s %14.1f %14.1f %7.2fx\n", label.c_str(), kavi, it->second,
                  kavi / it->second);
    }
  }

 private:
  std::map<std::string, double> mb_per_second_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
