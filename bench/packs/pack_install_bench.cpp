// SPDX-License-Identifier: Apache-2.0
// The install of a 20 MiB scheme pack from kavi-service on loopback, split into its phases:
// the manifest, the download, the SHA-256 checks, the commit (staged writes, the journaled
// moves, the marker) and the engine restart that loads the new scheme. The pack is a real
// table scheme: libime-data's wbx.main.dict with a copy of libime's language model.
//
//   build/bench/packs/kavi_packs_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "net/win_http_client.h"
#include "ovra/engine_api.h"
#include "packs/scheme_pack_manager.h"
#include "tests/common/kavi_service_process.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr char kTable[] = "/usr/share/libime/wbx.main.dict";
constexpr char kModel[] = "/usr/lib/x86_64-linux-gnu/libime/zh_CN.lm";

struct Fixture {
  TempDir user;
  KaviServiceProcess service;
  uint64_t pack_bytes = 0;
  bool ok = false;

  Fixture() {
    const fs::path packs = service.home() / "scheme-packs" / "big";
    fs::create_directories(packs);
    fs::copy_file(kTable, packs / "big.main.dict");
    fs::copy_file(kModel, packs / "big.lm");
    std::ofstream(packs / "big.schema.yaml")
        << "schema:\n  id: big\n  name: big\n  engine: table\n"
           "dictionaries: [big.main.dict]\nlanguage_model: big.lm\n";
    for (const auto& entry : fs::directory_iterator(packs)) pack_bytes += entry.file_size();
    ok = service.Start("\"scheme_packs\": \"" + (service.home() / "scheme-packs").string() + "\"");
  }
};

std::string g_shared_dir = std::string(KAVI_BINARY_DIR) + "/bin/data";

void BM_InstallPack20MiB(benchmark::State& state) {
  static Fixture* fixture = new Fixture();
  if (!fixture->ok) return state.SkipWithError("kavi-service did not start");
  const fs::path user_dir = fixture->user.path() / "user";
  const std::string logs = (fixture->user.path() / "logs").string();
  const std::string user = user_dir.string();
  KaviTraits traits{g_shared_dir.c_str(), user.c_str(), logs.c_str(), "Kavi", "kavi-win",
                    "0.5.1", "KaviServer", 1};
  kavi_setup(&traits);
  kavi_initialize();
  const WinHttpClient client(fixture->service.ClientOptions());
  PackInstallTimings total;
  double restart_ns = 0;
  for (auto _ : state) {
    fs::remove_all(user_dir / "build");
    SchemePackManager manager(
        user_dir / "build",
        [&](const HttpRequest& request, HttpResponse* response, HttpError* error) {
          return client.Send(request, response, error);
        },
        [&] { return fixture->service.base_url(); }, nullptr);
    std::string message;
    PackInstallTimings timings;
    if (!manager.Install("big", &message, nullptr, &timings))
      return state.SkipWithError(message.c_str());
    const auto start = Clock::now();
    kavi_prepare_restart();
    kavi_finalize();
    kavi_initialize();
    if (!kavi_select_schema("big")) return state.SkipWithError("the pack's scheme did not load");
    kavi_process_key('a', 0);  // the scheme's dictionaries are in use
    kavi_clear_composition();
    restart_ns += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    total.manifest_ns += timings.manifest_ns;
    total.download_ns += timings.download_ns;
    total.verify_ns += timings.verify_ns;
    total.commit_ns += timings.commit_ns;
  }
  const double runs = static_cast<double>(state.iterations()) * 1e6;
  state.counters["MiB"] = static_cast<double>(fixture->pack_bytes) / (1024.0 * 1024.0);
  state.counters["manifest_ms"] = static_cast<double>(total.manifest_ns) / runs;
  state.counters["download_ms"] = static_cast<double>(total.download_ns) / runs;
  state.counters["verify_ms"] = static_cast<double>(total.verify_ns) / runs;
  state.counters["commit_ms"] = static_cast<double>(total.commit_ns) / runs;
  state.counters["restart_ms"] = restart_ns / runs;
  kavi_finalize();
}
BENCHMARK(BM_InstallPack20MiB)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavi::win::testing

BENCHMARK_MAIN();
