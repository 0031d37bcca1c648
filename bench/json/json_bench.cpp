// SPDX-License-Identifier: Apache-2.0
// Parse and write throughput of the JSON library against RapidJSON (DOM, full-precision numbers),
// simdjson (DOM) and nlohmann::json, on the three documents JSON libraries are usually compared on
// (twitter, citm_catalog, canada) and on documents shaped like the server's own: a cloud word
// snapshot, a scheme pack manifest and many small service replies.
//
//   kavi_json_bench --benchmark_repetitions=5 [--bench_data=DIR]
//
// DIR holds twitter.json, citm_catalog.json and canada.json; by default the bench looks in
// shared/bench-data beside the source tree (and beside its parent, for a worktree). MB/s are
// the document's size over the time of one parse or one write, so every library is measured
// against the same byte count even where their output differs (RapidJSON writes the shortest
// form of a number, Kavi 17 significant digits). After the usual table the bench prints the
// median and the best of the repetitions for each library and the Kavi/RapidJSON ratios.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <simdjson.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
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

// One benchmark document: a single text, or many small ones parsed one after another.
struct Document {
  std::string name;
  std::vector<std::string> texts;
  std::vector<simdjson::padded_string> padded;  // simdjson reads past the end of its input
  size_t bytes = 0;

  Document(std::string document_name, std::vector<std::string> document_texts)
      : name(std::move(document_name)), texts(std::move(document_texts)) {
    for (const std::string& text : texts) {
      padded.emplace_back(text);
      bytes += text.size();
    }
  }
};

std::vector<std::unique_ptr<Document>>& Documents() {
  static std::vector<std::unique_ptr<Document>> documents;
  return documents;
}

bool ReadFile(const std::filesystem::path& path, std::string* out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream text;
  text << file.rdbuf();
  *out = text.str();
  return true;
}

std::filesystem::path FindBenchData(const std::string& given) {
  if (!given.empty()) return given;
  const std::filesystem::path source = KAVI_SOURCE_DIR;
  for (const auto& candidate : {source.parent_path() / "shared" / "bench-data",
                                source.parent_path().parent_path() / "shared" / "bench-data"}) {
    if (std::filesystem::is_directory(candidate)) return candidate;
  }
  return {};
}

void LoadDocuments(const std::string& bench_data) {
  const std::filesystem::path dir = FindBenchData(bench_data);
  for (const char* name : {"twitter", "citm_catalog", "canada"}) {
    std::string text;
    if (dir.empty() || !ReadFile(dir / (std::string(name) + ".json"), &text)) {
      std::fprintf(stderr, "%s.json not found (give --bench_data=DIR); skipped\n", name);
      continue;
    }
    Documents().push_back(std::make_unique<Document>(name, std::vector<std::string>{text}));
  }
  Documents().push_back(std::make_unique<Document>(
      "cloud_snapshot", std::vector<std::string>{MakeCloudSnapshot(1 << 20)}));
  Documents().push_back(
      std::make_unique<Document>("manifest", std::vector<std::string>{MakeManifest(2 << 20)}));
  Documents().push_back(std::make_unique<Document>("small_replies", MakeSmallReplies(5000)));
}

// ---------------------------------------------------------------------------------------------
// One parse and one write per library

void ParseKavi(benchmark::State& state, const Document& document) {
  for (auto _ : state) {
    for (const std::string& text : document.texts) {
      JsonValue value;
      if (!kavi::win::server::ParseJson(text, &value, nullptr)) state.SkipWithError("parse failed");
      benchmark::DoNotOptimize(value);
    }
  }
}

void WriteKavi(benchmark::State& state, const Document& document) {
  std::vector<JsonValue> values(document.texts.size());
  for (size_t i = 0; i < values.size(); ++i) {
    kavi::win::server::ParseJson(document.texts[i], &values[i], nullptr);
  }
  for (auto _ : state) {
    for (const JsonValue& value : values) {
      std::string out = kavi::win::server::SerializeJson(value);
      benchmark::DoNotOptimize(out);
    }
  }
}

constexpr unsigned kRapidFlags = rapidjson::kParseFullPrecisionFlag;

void ParseRapid(benchmark::State& state, const Document& document) {
  for (auto _ : state) {
    for (const std::string& text : document.texts) {
      rapidjson::Document value;
      value.Parse<kRapidFlags>(text.data(), text.size());
      if (value.HasParseError()) state.SkipWithError("parse failed");
      benchmark::DoNotOptimize(value);
    }
  }
}

void WriteRapid(benchmark::State& state, const Document& document) {
  std::vector<rapidjson::Document> values(document.texts.size());
  for (size_t i = 0; i < values.size(); ++i) {
    values[i].Parse<kRapidFlags>(document.texts[i].data(), document.texts[i].size());
  }
  for (auto _ : state) {
    for (const rapidjson::Document& value : values) {
      rapidjson::StringBuffer out;
      rapidjson::Writer<rapidjson::StringBuffer> writer(out);
      value.Accept(writer);
      benchmark::DoNotOptimize(out.GetString());
    }
  }
}

// simdjson's DOM parser is made to be reused: it keeps its buffers between documents.
void ParseSimd(benchmark::State& state, const Document& document) {
  simdjson::dom::parser parser;
  for (auto _ : state) {
    for (const simdjson::padded_string& text : document.padded) {
      simdjson::dom::element value;
      if (parser.parse(text).get(value) != simdjson::SUCCESS) state.SkipWithError("parse failed");
      benchmark::DoNotOptimize(value);
    }
  }
}

void WriteSimd(benchmark::State& state, const Document& document) {
  std::vector<std::unique_ptr<simdjson::dom::parser>> parsers;
  std::vector<simdjson::dom::element> values;
  for (const simdjson::padded_string& text : document.padded) {
    parsers.push_back(std::make_unique<simdjson::dom::parser>());
    values.push_back(parsers.back()->parse(text).value());
  }
  for (auto _ : state) {
    for (const simdjson::dom::element& value : values) {
      std::string out = simdjson::to_string(value);
      benchmark::DoNotOptimize(out);
    }
  }
}

void ParseNlohmann(benchmark::State& state, const Document& document) {
  for (auto _ : state) {
    for (const std::string& text : document.texts) {
      nlohmann::json value = nlohmann::json::parse(text);
      benchmark::DoNotOptimize(value);
    }
  }
}

void WriteNlohmann(benchmark::State& state, const Document& document) {
  std::vector<nlohmann::json> values;
  for (const std::string& text : document.texts) values.push_back(nlohmann::json::parse(text));
  for (auto _ : state) {
    for (const nlohmann::json& value : values) {
      std::string out = value.dump();
      benchmark::DoNotOptimize(out);
    }
  }
}

struct Library {
  const char* name;
  void (*parse)(benchmark::State&, const Document&);
  void (*write)(benchmark::State&, const Document&);
};
constexpr Library kLibraries[] = {
    {"Kavi", ParseKavi, WriteKavi},
    {"RapidJSON", ParseRapid, WriteRapid},
    {"simdjson", ParseSimd, WriteSimd},
    {"nlohmann", ParseNlohmann, WriteNlohmann},
};

void RegisterAll() {
  for (const char* operation : {"Parse", "Write"}) {
    for (const auto& document : Documents()) {
      for (const Library& library : kLibraries) {
        const bool parse = operation[0] == 'P';
        auto run = parse ? library.parse : library.write;
        const Document* doc = document.get();
        benchmark::RegisterBenchmark(
            (std::string(operation) + "/" + doc->name + "/" + library.name).c_str(),
            [run, doc](benchmark::State& state) {
              run(state, *doc);
              state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc->bytes));
            })
            ->Unit(benchmark::kMicrosecond);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The summary

// Keeps the MB/s of every repetition so that the median and the best can be printed after the
// usual table. On a shared machine the slower runs measure the neighbours; the median says what
// is typical and the best what the code can do.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      samples_[run.run_name.function_name].push_back(it->second.value / 1e6);
    }
  }

  void PrintSummary() const {
    std::printf("\nMB/s of the document's size: median (best) of the repetitions\n");
    std::printf("%-6s %-15s", "op", "document");
    for (const Library& library : kLibraries) std::printf(" %19s", library.name);
    std::printf(" %20s\n", "Kavi/RapidJSON");
    for (const char* operation : {"Parse", "Write"}) {
      for (const auto& document : Documents()) {
        const std::string prefix = std::string(operation) + "/" + document->name + "/";
        bool measured = false;
        for (const Library& library : kLibraries) measured |= Of(prefix + library.name).best > 0;
        if (!measured) continue;  // filtered out
        std::printf("%-6s %-15s", operation, document->name.c_str());
        for (const Library& library : kLibraries) {
          const Stats stats = Of(prefix + library.name);
          std::printf(" %10.1f (%6.1f)", stats.median, stats.best);
        }
        const Stats kavi = Of(prefix + "Kavi");
        const Stats rapid = Of(prefix + "RapidJSON");
        if (rapid.median > 0 && rapid.best > 0) {
          std::printf(" %10.2fx (%5.2fx)", kavi.median / rapid.median, kavi.best / rapid.best);
        }
        std::printf("\n");
      }
    }
  }

 private:
  struct Stats {
    double median = 0;
    double best = 0;
  };
  Stats Of(const std::string& name) const {
    auto it = samples_.find(name);
    if (it == samples_.end() || it->second.empty()) return {};
    std::vector<double> values = it->second;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.back()};
  }

  std::map<std::string, std::vector<double>> samples_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string bench_data;
  const std::string flag = "--bench_data=";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind(flag, 0) == 0) {
      bench_data = arg.substr(flag.size());
    } else {
      std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
      return 1;
    }
  }
  LoadDocuments(bench_data);
  RegisterAll();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
