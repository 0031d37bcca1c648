// SPDX-License-Identifier: Apache-2.0
// The cost the protocol and the session add to a key press: a key round trip through the real
// server (fake engine answering a 10-candidate page) next to a bare SOCK_SEQPACKET exchange of
// the same record sizes; and 255 clients typing at once.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/kavi_client.h"
#include "platform/identity.h"
#include "platform/ipc.h"
#include "server/serve/pipe_server.h"
#include "tests/fake_engine/fake_engine.h"

namespace kavi::win {
namespace {

using Clock = std::chrono::steady_clock;

struct Percentiles {
  double p50 = 0, p99 = 0;
};

Percentiles Summarise(std::vector<double>& micros) {
  if (micros.empty()) return {};
  std::sort(micros.begin(), micros.end());
  return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

Percentiles g_server, g_raw;

std::filesystem::path TempDir() {
  std::string pattern = "/tmp/kavi-bench-XXXXXX";
  return ::mkdtemp(pattern.data());
}

// A server on a private socket with the fake engine.
struct BenchServer {
  BenchServer() {
    dir = TempDir();
    socket = dir / "Kavi.sock";
    auto& fake = testing::Fake();
    fake.Reset();
    fake.page_size = 10;
    for (int i = 0; i < 10; ++i) fake.candidates.push_back({"候選" + std::to_string(i), "hou"});
    services.shutdown = [this] { server->Stop(); };
    server = std::make_unique<PipeServer>(CurrentUserSid(), socket, services, shared);
    std::string message;
    server->Listen(&message);
    thread = std::thread([this] { server->Serve(); });
  }
  ~BenchServer() {
    server->Stop();
    thread.join();
    server->Teardown();
    std::filesystem::remove_all(dir);
  }
  ClientOptions Options() const {
    ClientOptions o;
    o.socket_path = socket;
    o.start_server = false;
    return o;
  }
  std::filesystem::path dir, socket;
  ServerShared shared;
  SessionServices services;
  std::unique_ptr<PipeServer> server;
  std::thread thread;
};

void BM_KeyRoundTrip(benchmark::State& state) {
  BenchServer server;
  KaviClient client(server.Options());
  client.Send(RequestKind::FocusIn, 1);
  std::vector<double> micros;
  uint32_t keys_cycle[2] = {'a', keys::kBackSpace};
  size_t n = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    auto reply = client.SendKey(keys_cycle[n++ & 1], 0, 1);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (!reply || reply->result != 1) {
      state.SkipWithError("key not consumed");
      break;
    }
    benchmark::DoNotOptimize(reply->candidate_count);
  }
  g_server = Summarise(micros);
  state.counters["p50_us"] = g_server.p50;
  state.counters["p99_us"] = g_server.p99;
}
BENCHMARK(BM_KeyRoundTrip)->Iterations(20000)->UseRealTime();

void BM_RawSeqpacketExchange(benchmark::State& state) {
  std::filesystem::path dir = TempDir();
  std::filesystem::path path = dir / "raw.sock";
  UniqueFd listener;
  std::string message;
  ListenSeqpacket(path, &listener, &message);
  std::thread echo([&] {
    UniqueFd peer = AcceptConnection(listener.get());
    PipeRequest request;
    static PipeResponse reply;
    std::memset(&reply, 0, sizeof reply);
    while (ReceivePacket(peer.get(), &request, sizeof request) == kRequestSize)
      SendPacket(peer.get(), &reply, sizeof reply);
  });
  {
    UniqueFd fd = ConnectSeqpacket(path);
    PipeRequest request = MakeRequest(RequestKind::KeyEvent);
    static PipeResponse reply;
    std::vector<double> micros;
    for (auto _ : state) {
      auto start = Clock::now();
      SendPacket(fd.get(), &request, sizeof request);
      ssize_t got = ReceivePacket(fd.get(), &reply, sizeof reply);
      micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      if (got != kResponseSize) {
        state.SkipWithError("short reply");
        break;
      }
    }
    g_raw = Summarise(micros);
    state.counters["p50_us"] = g_raw.p50;
    state.counters["p99_us"] = g_raw.p99;
  }
  echo.join();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RawSeqpacketExchange)->Iterations(20000)->UseRealTime();

int ThreadCount() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  return -1;
}

// 255 clients connected at once, each sending 1,000 keys.
void BM_255ClientsTyping(benchmark::State& state) {
  for (auto _ : state) {
    BenchServer server;
    const int baseline = ThreadCount();
    constexpr int kClients = 255, kKeys = 1000;
    std::atomic<int> ok_replies{0}, connected{0};
    std::atomic<int> peak_sessions{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        KaviClient client(server.Options());
        if (!client.Connect()) return;
        ++connected;
        while (connected < kClients) std::this_thread::yield();  // all connected at once
        int live = static_cast<int>(server.server->live_sessions());
        int seen = peak_sessions;
        while (live > seen && !peak_sessions.compare_exchange_weak(seen, live)) {
        }
        for (int k = 0; k < kKeys; ++k) {
          auto reply = client.SendKey(c == 0 ? 'a' : 'b', 0, static_cast<uint64_t>(c + 1));
          if (reply && reply->kind == static_cast<uint16_t>(ReplyKind::State)) ++ok_replies;
          if (c == 0 && k % 64 == 63) client.SendKey(keys::kEscape, 0, 1);
        }
      });
    }
    for (auto& t : clients) t.join();
    // Sessions end when their clients disconnect; wait for the threads to go.
    for (int i = 0; i < 500 && server.server->live_sessions() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    state.counters["clients"] = connected.load();
    state.counters["peak_sessions"] = peak_sessions.load();
    state.counters["ok_replies"] = ok_replies.load();
    state.counters["failed_replies"] = kClients * kKeys - ok_replies.load();
    state.counters["threads_baseline"] = baseline;
    state.counters["threads_after"] = ThreadCount();
  }
}
BENCHMARK(BM_255ClientsTyping)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavi::win

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  using kavi::win::g_raw;
  using kavi::win::g_server;
  if (g_raw.p50 > 0 && g_server.p50 > 0)
    std::printf(
        "key round trip vs raw exchange: p50 %.1f us / %.1f us = %.2fx, p99 %.1f us / %.1f us = "
        "%.2fx\n",
        g_server.p50, g_raw.p50, g_server.p50 / g_raw.p50, g_server.p99, g_raw.p99,
        g_server.p99 / g_raw.p99);
  return 0;
}
