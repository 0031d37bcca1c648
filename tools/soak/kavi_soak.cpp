// SPDX-License-Identifier: Apache-2.0
// kavi-soak: N clients typing real pinyin against one running server for M minutes. They take
// turns for the focus as applications do (one has it, the others idle and poll), commit words
// and sentences, open plug-in pages, start maintenance jobs and disconnect now and then. Every
// ten seconds it prints the key latency and the server's memory, threads and descriptors; at
// the end a summary, and it exits 1 on any error, on memory growth over 10% after the warm-up,
// or when threads or descriptors stay above the idle server's once the clients are gone.
// Memory is compared as a level, the median of a minute of samples right after the warm-up
// against that of the last minute: one sample swings by a few percent with where it falls in the
// allocator's cycle (free pages go back every half minute) and during a redeploy, which holds two
// copies of the dictionaries for a moment; a leak moves the level.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "client/kavi_client.h"

namespace kavi::win {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSampleSeconds = 10;
constexpr double kMaxRssGrowth = 0.10;
constexpr double kLevelSeconds = 60;  // the samples that make one memory level (a long run)
// The server's memory climbs for the first two minutes of typing (the language model's pages,
// the allocator's working size, the first redeploy).
constexpr double kMaxWarmupSeconds = 120;
constexpr int kIdlePollMs = 250;  // how often an application without the focus polls
constexpr int kReplyTimeoutMs = 2000;
// Idle polls (four a second) per client between two redeploys: about one every two minutes.
constexpr unsigned kIdlePollsPerRedeploy = 480;

// What people type: words, phrases and whole sentences, then how they finish them.
constexpr const char* kPinyin[] = {
    "nihao",          "xiexie",        "zaijian",      "women",         "zhongguo",
    "shurufa",        "jintian",       "tianqi",       "henhao",        "pengyou",
    "gongzuo",        "xuexi",         "diannao",      "ruanjian",      "shijie",
    "woxihuanchifan", "tamenqushangbanle", "zhonghuarenmingongheguo", "jintiantianqihenhao",
    "womenyiqiqukanmianba", "zheshiyigeceshi", "nh", "zg", "xx",
};
constexpr const char* kPluginInputs[] = {"`rq", "`sj", "`1+2*3=", "`sqrt(2)="};

struct Stats {
  std::mutex mutex;
  std::vector<double> window_us;  // latencies of the current sample window
  std::vector<double> all_us;
  uint64_t keys = 0;
  uint64_t errors = 0;
  uint64_t busy = 0;
  uint64_t commits = 0;
  uint64_t disconnects = 0;
  uint64_t jobs = 0;
  std::vector<std::string> error_notes;

  void Key(double us) {
    std::lock_guard lock(mutex);
    window_us.push_back(us);
    all_us.push_back(us);
    ++keys;
  }
  void Error(const std::string& what) {
    std::lock_guard lock(mutex);
    ++errors;
    if (error_notes.size() < 20) error_notes.push_back(what);
  }
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct RssSample {
  double t;
  long kb;
};

// The median of the samples taken in [from, to).
long RssLevel(const std::vector<RssSample>& samples, double from, double to) {
  std::vector<double> in;
  for (const RssSample& s : samples)
    if (s.t >= from && s.t < to) in.push_back(static_cast<double>(s.kb));
  return static_cast<long>(Percentile(in, 0.5));
}

struct Vitals {
  long rss_kb = 0;
  int threads = 0;
  int fds = 0;
};

Vitals ReadVitals(uint32_t pid) {
  Vitals v;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) v.rss_kb = std::atol(line.c_str() + 6);
    if (line.rfind("Threads:", 0) == 0) v.threads = std::atoi(line.c_str() + 8);
  }
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++v.fds;
  return v;
}

class SoakClient {
 public:
  SoakClient(int index, int clients, const ClientOptions& options, Stats& stats,
             std::mutex& focus, std::atomic<bool>& stop)
      : index_(index),
        clients_(clients),
        context_(static_cast<uint64_t>(index) + 1),
        options_(options),
        stats_(stats),
        focus_(focus),
        stop_(stop),
        random_(static_cast<unsigned>(index) * 7919u + 17u) {}

  void Run() {
    client_ = std::make_unique<KaviClient>(options_);
    while (!stop_) {
      std::unique_lock turn(focus_, std::try_to_lock);
      if (turn.owns_lock()) {
        Burst();
        turn.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(random_() % 50));
      } else {
        Idle();
      }
    }
    client_->Send(RequestKind::FocusOut, context_);
    client_.reset();
  }

 private:
  std::optional<PipeResponse> Send(RequestKind kind, uint32_t argument = 0) {
    auto reply = client_->Send(kind, context_, argument);
    if (!reply) Reconnect("no reply to kind " + std::to_string(static_cast<int>(kind)));
    return reply;
  }

  void Reconnect(const std::string& why) {
    stats_.Error("client " + std::to_string(index_) + ": " + why);
    client_ = std::make_unique<KaviClient>(options_);
  }

  // Types keys; false when the turn should end.
  bool Key(uint32_t keysym) {
    const auto start = Clock::now();
    auto reply = client_->SendKey(keysym, 0, context_);
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (!reply) {
      Reconnect("no reply to a key");
      return false;
    }
    stats_.Key(us);
    if (reply->kind == static_cast<uint16_t>(ReplyKind::Busy)) {
      std::lock_guard lock(stats_.mutex);
      ++stats_.busy;
      return false;
    }
    if (reply->kind != static_cast<uint16_t>(ReplyKind::State)) {
      stats_.Error("client " + std::to_string(index_) + ": key answered with kind " +
                   std::to_string(reply->kind));
      return false;
    }
    if (reply->has_commit) {
      std::lock_guard lock(stats_.mutex);
      ++stats_.commits;
    }
    if (reply->commit_pending) {
      auto ack = Send(RequestKind::AckCommit);
      if (ack && ack->kind != static_cast<uint16_t>(ReplyKind::Ok))
        stats_.Error("client " + std::to_string(index_) + ": acknowledgement not accepted");
    }
    return true;
  }

  void Burst() {
    auto focus = Send(RequestKind::FocusIn);
    if (!focus) return;
    if (focus->kind != static_cast<uint16_t>(ReplyKind::State)) {
      if (focus->kind != static_cast<uint16_t>(ReplyKind::Busy))
        stats_.Error("client " + std::to_string(index_) + ": focus refused");
      return;
    }
    const int words = 1 + static_cast<int>(random_() % 4);
    for (int w = 0; w < words && !stop_; ++w) {
      const unsigned pick = random_() % 10;
      if (pick == 0) {
        // A plug-in page: a backtick command, then take its first entry or leave it.
        const char* input = kPluginInputs[random_() % std::size(kPluginInputs)];
        bool ok = true;
        for (const char* c = input; *c && ok; ++c) ok = Key(static_cast<unsigned char>(*c));
        if (ok) Key(random_() % 2 ? '1' : keys::kEscape);
        continue;
      }
      const char* word = kPinyin[random_() % std::size(kPinyin)];
      bool ok = true;
      for (const char* c = word; *c && ok; ++c) ok = Key(static_cast<unsigned char>(*c));
      if (!ok) break;
      // Finish as people do: space, a digit, paging first, a mouse pick, or giving up.
      switch (random_() % 6) {
        case 0:
          Key('2');
          break;
        case 1:
          Key(keys::kPageDown) && Key(keys::kSpace);
          break;
        case 2: {
          auto picked = Send(RequestKind::SelectCandidate, 0);
          if (picked && picked->commit_pending) Send(RequestKind::AckCommit);
          break;
        }
        case 3:
          Key(keys::kEscape);
          break;
        default:
          Key(keys::kSpace);
          break;
      }
    }
    Send(RequestKind::FocusOut);
    // Now and then an application quits (or crashes) and another one connects.
    if (random_() % 20 == 0) {
      client_ = std::make_unique<KaviClient>(options_);
      std::lock_guard lock(stats_.mutex);
      ++stats_.disconnects;
    }
  }

  void Idle() {
    Send(RequestKind::PollAsync);
    // The settings application asks for the job status; rarely (about every two minutes across
    // all clients) somebody redeploys.
    if (random_() % (kIdlePollsPerRedeploy * static_cast<unsigned>(clients_)) == 0) {
      auto job = Send(RequestKind::Redeploy);
      if (job && job->kind == static_cast<uint16_t>(ReplyKind::Ok)) {
        std::lock_guard lock(stats_.mutex);
        ++stats_.jobs;
      }
    } else if (random_() % 40 == 0) {
      Send(RequestKind::MaintenanceStatus);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kIdlePollMs));
  }

  const int index_;
  const int clients_;
  const uint64_t context_;
  const ClientOptions& options_;
  Stats& stats_;
  std::mutex& focus_;
  std::atomic<bool>& stop_;
  std::minstd_rand random_;
  std::unique_ptr<KaviClient> client_;
};

int Main(int argc, char** argv) {
  ClientOptions options;
  options.start_server = false;
  options.transaction_timeout_ms = kReplyTimeoutMs;
  int clients = 50;
  double minutes = 10;
  double warmup_seconds = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--socket") options.socket_path = argv[i + 1];
    else if (flag == "--clients") clients = std::atoi(argv[i + 1]);
    else if (flag == "--minutes") minutes = std::atof(argv[i + 1]);
    else if (flag == "--warmup-seconds") warmup_seconds = std::atof(argv[i + 1]);
    else {
      std::fprintf(stderr, "usage: kavi-soak --socket PATH [--clients N] [--minutes M]\n");
      return 2;
    }
  }
  if (options.socket_path.empty() || clients < 1 || minutes <= 0) {
    std::fprintf(stderr, "usage: kavi-soak --socket PATH [--clients N] [--minutes M]\n");
    return 2;
  }
  const double total_seconds = minutes * 60;
  if (warmup_seconds < 0) warmup_seconds = std::min(kMaxWarmupSeconds, total_seconds / 5);

  auto pid_reply = KaviClient(options).Send(RequestKind::QueryServerPid);
  if (!pid_reply || pid_reply->kind != static_cast<uint16_t>(ReplyKind::Ok)) {
    std::fprintf(stderr, "kavi-soak: no server answers on %s\n", options.socket_path.c_str());
    return 2;
  }
  const uint32_t pid = pid_reply->value;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const Vitals idle = ReadVitals(pid);
  std::printf("soak: %d clients for %.1f min against pid %u (idle: rss %ld kB, %d threads, %d fds)\n",
              clients, minutes, pid, idle.rss_kb, idle.threads, idle.fds);

  Stats stats;
  std::mutex focus;
  std::atomic<bool> stop{false};
  std::vector<std::unique_ptr<SoakClient>> soakers;
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    soakers.push_back(std::make_unique<SoakClient>(i, clients, options, stats, focus, stop));
    threads.emplace_back([s = soakers.back().get()] { s->Run(); });
  }

  const auto start = Clock::now();
  std::vector<RssSample> rss_samples;
  std::printf("%6s %8s %8s %8s %9s %7s %9s %8s %4s\n", "t(s)", "keys", "p50(us)", "p99(us)",
              "max(us)", "errors", "rss(kB)", "threads", "fds");
  for (;;) {
    std::this_thread::sleep_for(std::chrono::seconds(kSampleSeconds));
    const double t = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> window;
    uint64_t keys = 0, errors = 0;
    {
      std::lock_guard lock(stats.mutex);
      window.swap(stats.window_us);
      keys = stats.keys;
      errors = stats.errors;
    }
    const Vitals v = ReadVitals(pid);
    if (v.rss_kb == 0) {
      stats.Error("the server is gone");
      break;
    }
    std::printf("%6.0f %8llu %8.0f %8.0f %9.0f %7llu %9ld %8d %4d\n", t,
                static_cast<unsigned long long>(keys), Percentile(window, 0.5),
                Percentile(window, 0.99), window.empty() ? 0 : *std::max_element(window.begin(), window.end()),
                static_cast<unsigned long long>(errors), v.rss_kb, v.threads, v.fds);
    std::fflush(stdout);
    rss_samples.push_back({t, v.rss_kb});
    if (t >= total_seconds) break;
  }
  stop = true;
  for (auto& t : threads) t.join();
  // Sessions and job threads end shortly after their clients.
  Vitals after{};
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    after = ReadVitals(pid);
    if (after.threads <= idle.threads && after.fds <= idle.fds) break;
  }

  const double end_seconds = rss_samples.empty() ? 0 : rss_samples.back().t + 1;
  // A short run's two levels take a quarter of what follows the warm-up each, so that they never
  // share samples.
  const double level_seconds =
      std::max<double>(kSampleSeconds, std::min(kLevelSeconds, (end_seconds - warmup_seconds) / 4));
  const long rss_after_warmup =
      RssLevel(rss_samples, warmup_seconds, warmup_seconds + level_seconds);
  const long rss_at_end = RssLevel(rss_samples, end_seconds - level_seconds, end_seconds);
  long rss_max_after_warmup = 0;
  for (const RssSample& sample : rss_samples)
    if (sample.t >= warmup_seconds)
      rss_max_after_warmup = std::max(rss_max_after_warmup, sample.kb);
  const auto growth_of = [&](long kb) {
    return rss_after_warmup
               ? static_cast<double>(kb - rss_after_warmup) / static_cast<double>(rss_after_warmup)
               : 0;
  };
  const double growth = growth_of(rss_at_end);
  std::vector<double> all;
  {
    std::lock_guard lock(stats.mutex);
    all = stats.all_us;
  }
  std::printf("\nsummary: %llu keys, %llu commits, %llu busy, %llu disconnects, %llu jobs\n",
              static_cast<unsigned long long>(stats.keys),
              static_cast<unsigned long long>(stats.commits),
              static_cast<unsigned long long>(stats.busy),
              static_cast<unsigned long long>(stats.disconnects),
              static_cast<unsigned long long>(stats.jobs));
  std::printf("key latency: p50 %.0f us, p99 %.0f us, max %.0f us\n", Percentile(all, 0.5),
              Percentile(all, 0.99), all.empty() ? 0 : *std::max_element(all.begin(), all.end()));
  std::printf("errors: %llu\n", static_cast<unsigned long long>(stats.errors));
  for (const std::string& note : stats.error_notes) std::printf("  %s\n", note.c_str());
  std::printf(
      "rss (median of %.0f s): %ld kB after a %.0f s warm-up, %ld kB at the end (%+.1f%%);"
      " highest sample %ld kB (%+.1f%%)\n",
      level_seconds, rss_after_warmup, warmup_seconds, rss_at_end, growth * 100,
      rss_max_after_warmup, growth_of(rss_max_after_warmup) * 100);
  std::printf("threads: %d idle, %d after; fds: %d idle, %d after\n", idle.threads, after.threads,
              idle.fds, after.fds);
  bool failed = false;
  if (stats.errors > 0) failed = true;
  if (growth > kMaxRssGrowth) {
    std::printf("FAIL: memory grew by more than %.0f%% after the warm-up\n", kMaxRssGrowth * 100);
    failed = true;
  }
  if (after.threads > idle.threads || after.fds > idle.fds) {
    std::printf("FAIL: threads or descriptors left behind\n");
    failed = true;
  }
  std::printf("%s\n", failed ? "soak: FAILED" : "soak: passed");
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace kavi::win

int main(int argc, char** argv) {
  return kavi::win::Main(argc, argv);
}
