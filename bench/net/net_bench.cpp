// SPDX-License-Identifier: Apache-2.0
// The network paths against kavi-service on loopback:
// - a 256 MiB transfer alone (WinHttpClient::Stream into a sink that keeps nothing) against
//   `curl -o /dev/null`: MiB/s of each and their ratio;
// - the 256 MiB download through FileDownloader (resume machinery, 1 MiB chunks, SHA-256 check,
//   durable install) against `curl -o` of the same file, and against `curl -o` followed by
//   `sync` of the file (curl does not flush; the downloader must): MiB/s and both ratios;
// - SHA-256 of the same file through Sha256File against `sha256sum`: MB/s and ratio;
// - /cloud/report batches from 8 keep-alive connections for 5 seconds: requests/s and p99.
// Run: build/bench/net/kavi_net_bench
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/sha256.h"
#include "tests/common/kavi_service_process.h"
#include "update/file_downloader.h"

namespace kavi::win::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kFileBytes = 256u << 20;
constexpr double kMiB = 1024.0 * 1024.0;

// One service and one 256 MiB file for the whole run.
struct Fixture {
  KaviServiceProcess service;
  std::filesystem::path file;
  std::string sha256;
  bool ok = false;

  Fixture() {
    if (!service.Start("\"reports_per_minute\": 0")) return;
    file = service.files_dir() / "big.bin";
    std::FILE* out = std::fopen(file.c_str(), "wb");
    std::vector<uint64_t> block(1 << 17);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (size_t written = 0; written < kFileBytes; written += block.size() * 8) {
      for (uint64_t& word : block) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        word = x;
      }
      std::fwrite(block.data(), 8, block.size(), out);
    }
    std::fclose(out);
    std::string error;
    ok = Sha256File(file, &sha256, &error);
  }
  std::string url() const { return service.base_url() + "/files/big.bin"; }
};

Fixture& Shared() {
  static Fixture* fixture = new Fixture();
  return *fixture;
}

double CpuSeconds(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a shell command; its wall time in seconds, or a negative number when it failed.
double TimeCommand(const std::string& command) {
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return status == 0 ? seconds : -1;
}

// The wall and CPU seconds of each run of one side of a comparison. Medians: on a shared machine
// a run that another engineer's build slowed down says nothing about either side.
class Runs {
 public:
  // Times `run` (in this process) and keeps the figures; false when it failed.
  template <typename Run>
  bool Ours(Run run) {
    const double cpu = CpuSeconds(RUSAGE_SELF);
    const auto start = Clock::now();
    if (!run()) return false;
    wall_.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    cpu_.push_back(CpuSeconds(RUSAGE_SELF) - cpu);
    return true;
  }
  // Times a shell command (its children's CPU); false when it failed.
  bool Command(const std::string& command) {
    const double cpu = CpuSeconds(RUSAGE_CHILDREN);
    const double seconds = TimeCommand(command);
    if (seconds < 0) return false;
    wall_.push_back(seconds);
    cpu_.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
    return true;
  }
  double wall() const { return Median(wall_); }
  double cpu() const { return Median(cpu_); }
  double mib_per_second() const { return kFileBytes / kMiB / wall(); }

 private:
  static double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }
  std::vector<double> wall_, cpu_;
};

void Report(benchmark::State& state, const char* name, const Runs& runs) {
  state.counters[std::string(name) + "_MiB/s"] = runs.mib_per_second();
  state.counters[std::string(name) + "_cpu_s"] = runs.cpu();
}

std::string CurlCommand(const Fixture& f, const std::filesystem::path& output) {
  return "curl -s --fail --cacert '" + f.service.certificates().ca.string() + "' -o '" +
         output.string() + "' '" + f.url() + "'";
}

// The transfer alone, both sides discarding the body: WinHttpClient::Stream into a sink that
// keeps nothing, against `curl -o /dev/null`.
class DiscardSink final : public HttpBodySink {
 public:
  bool OnHeaders(uint32_t status, const std::string&) override { return status == 200; }
  bool OnBody(const char*, size_t size) override {
    bytes += size;
    return true;
  }
  uint64_t bytes = 0;
};

// Runs the steps of one iteration, each in turn first: whichever side runs right after another
// transfer (the service's caches warm, the scheduler's state) is not always the same one.
bool RunRotated(benchmark::State& state, std::vector<std::function<bool()>> steps) {
  const size_t first = static_cast<size_t>(state.iterations()) % steps.size();
  for (size_t i = 0; i < steps.size(); ++i) {
    if (!steps[(first + i) % steps.size()]()) return false;
  }
  return true;
}

void BM_Transfer256MiB(benchmark::State& state) {
  Fixture& f = Shared();
  if (!f.ok) return state.SkipWithError("kavi-service did not start");
  const WinHttpClient client(f.service.ClientOptions());
  Runs ours, curl;
  for (auto _ : state) {
    const auto stream = [&] {
      return ours.Ours([&] {
        HttpRequest request;
        request.url = f.url();
        request.receive_timeout_ms = 300000;
        DiscardSink sink;
        HttpError error;
        return client.Stream(request, &sink, &error) && sink.bytes == kFileBytes;
      });
    };
    const auto run_curl = [&] { return curl.Command(CurlCommand(f, "/dev/null")); };
    if (!RunRotated(state, {stream, run_curl})) return state.SkipWithError("a transfer failed");
  }
  Report(state, "kavi", ours);
  Report(state, "curl", curl);
  state.counters["ratio"] = curl.wall() / ours.wall();
}
BENCHMARK(BM_Transfer256MiB)->Iterations(8)->Unit(benchmark::kMillisecond);

// The whole download: FileDownloader (hashing, writing, and flushing the file to disk before it
// is renamed onto the target) against `curl -o`, which leaves the file in the page cache, and
// against `curl -o` followed by `sync FILE`, which makes it as durable as ours. The runs of the
// three alternate, so that the load of a shared machine falls on all of them alike.
void BM_Download256MiB(benchmark::State& state) {
  Fixture& f = Shared();
  if (!f.ok) return state.SkipWithError("kavi-service did not start");
  const WinHttpClient client(f.service.ClientOptions());
  const FileDownloader downloader(client);
  const std::filesystem::path target = f.service.home() / "download.bin";
  Runs ours, curl, curl_sync;
  std::string message = "curl failed";
  // What earlier runs (and the fixture) left in the page cache is not the next run's to write
  // back.
  const auto fresh = [&] {
    std::filesystem::remove(target);
    TimeCommand("sync");
  };
  for (auto _ : state) {
    const auto download = [&] {
      fresh();
      return ours.Ours([&] {
        DownloadRequest request;
        request.url = f.url();
        request.target = target;
        request.expected_size = kFileBytes;
        request.expected_sha256 = f.sha256;
        return downloader.Download(request, &message);
      });
    };
    const auto run_curl = [&] {
      fresh();
      return curl.Command(CurlCommand(f, target));
    };
    const auto run_curl_sync = [&] {
      fresh();
      return curl_sync.Command(CurlCommand(f, target) + " && sync '" + target.string() + "'");
    };
    if (!RunRotated(state, {download, run_curl, run_curl_sync}))
      return state.SkipWithError(message.c_str());
  }
  std::filesystem::remove(target);
  Report(state, "kavi", ours);
  Report(state, "curl", curl);
  Report(state, "curl+sync", curl_sync);
  state.counters["ratio"] = curl.wall() / ours.wall();
  state.counters["ratio_durable"] = curl_sync.wall() / ours.wall();
}
BENCHMARK(BM_Download256MiB)->Iterations(9)->Unit(benchmark::kMillisecond);

void BM_Sha256File256MiB(benchmark::State& state) {
  Fixture& f = Shared();
  if (!f.ok) return state.SkipWithError("kavi-service did not start");
  double ours = 0, tool = 0;
  for (auto _ : state) {
    std::string hex, error;
    const auto start = Clock::now();
    if (!Sha256File(f.file, &hex, &error)) return state.SkipWithError(error.c_str());
    ours += std::chrono::duration<double>(Clock::now() - start).count();
    const double taken = TimeCommand("sha256sum '" + f.file.string() + "' > /dev/null");
    if (taken < 0) return state.SkipWithError("sha256sum failed");
    tool += taken;
  }
  const double runs = static_cast<double>(state.iterations());
  const double ours_mbs = kFileBytes / kMiB / (ours / runs);
  const double tool_mbs = kFileBytes / kMiB / (tool / runs);
  state.counters["kavi_MiB/s"] = ours_mbs;
  state.counters["sha256sum_MiB/s"] = tool_mbs;
  state.counters["ratio"] = ours_mbs / tool_mbs;
}
BENCHMARK(BM_Sha256File256MiB)->Iterations(5)->Unit(benchmark::kMillisecond);

size_t Discard(char*, size_t size, size_t count, void*) {
  return size * count;
}

// Report batches of 20 words and 10 pairs from `connections` keep-alive connections.
void BM_ServiceReports(benchmark::State& state) {
  Fixture& f = Shared();
  if (!f.ok) return state.SkipWithError("kavi-service did not start");
  const int connections = static_cast<int>(state.range(0));
  constexpr auto kDuration = std::chrono::seconds(5);
  std::atomic<uint64_t> next_batch{0};
  std::atomic<bool> failed{false};
  std::vector<std::vector<double>> latencies(connections);
  double seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c) {
      threads.emplace_back([&, c] {
        CURL* curl = curl_easy_init();
        curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
        const std::string url = f.service.base_url() + "/cloud/report";
        const std::string ca = f.service.certificates().ca.string();
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        while (Clock::now() - start < kDuration) {
          std::string body =
              "{\"batch_id\":\"bench-" + std::to_string(next_batch++) + "\",\"items\":[";
          for (int i = 0; i < 20; ++i)
            body += std::string(i ? "," : "") + "{\"w\":\"詞" + std::to_string(i % 200) +
                    "\",\"p\":\"ci\",\"c\":" + std::to_string(1 + i % 5) + "}";
          body += "],\"predicts\":[";
          for (int i = 0; i < 10; ++i)
            body += std::string(i ? "," : "") + "{\"pr\":\"我\",\"nx\":\"詞" + std::to_string(i) +
                    "\",\"c\":1}";
          body += "]}";
          curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
          const auto sent = Clock::now();
          long status = 0;
          if (curl_easy_perform(curl) != CURLE_OK ||
              curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
              status != 200) {
            failed = true;
            break;
          }
          latencies[c].push_back(
              std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        }
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
      });
    }
    for (std::thread& thread : threads) thread.join();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  if (failed) return state.SkipWithError("a report failed");
  std::vector<double> all;
  for (const auto& each : latencies) all.insert(all.end(), each.begin(), each.end());
  std::sort(all.begin(), all.end());
  state.counters["requests/s"] = static_cast<double>(all.size()) / seconds;
  state.counters["p50_ms"] = all.empty() ? 0 : all[all.size() / 2];
  state.counters["p99_ms"] = all.empty() ? 0 : all[all.size() * 99 / 100];
}
BENCHMARK(BM_ServiceReports)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavi::win::testing

BENCHMARK_MAIN();
