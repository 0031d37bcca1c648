// SPDX-License-Identifier: Apache-2.0
// What the real server keeps on disk for the user, end to end: its modes, its learned words
// across saves, redeploys and crashes.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <memory>

#include "tests/e2e/server_process.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;
constexpr uint16_t kOk = static_cast<uint16_t>(ReplyKind::Ok);

uint32_t WaitForMaintenance(KaviClient& client) {
  for (int i = 0; i < 1000; ++i) {
    auto status = client.Send(RequestKind::MaintenanceStatus, 1);
    if (status && status->value != 1) return status->value;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 1;
}

// Commits the first candidate of `letters`.
void Commit(KaviClient& client, const std::string& letters) {
  Type(client, letters);
  auto reply = client.SendKey(keys::kSpace, 0, 1);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->has_commit, 1);
}

int FindCandidate(const PipeResponse& state, const std::string& text) {
  for (uint32_t i = 0; i < state.candidate_count; ++i)
    if (Field(state.candidates[i].text) == text) return static_cast<int>(i);
  return -1;
}

// Picks `first` for the start of `letters` and `second` for the rest: commits the two as one.
void CommitPieces(KaviClient& client, const std::string& letters, const std::string& first,
                  const std::string& second) {
  PipeResponse state = Type(client, letters);
  int slot = FindCandidate(state, first);
  ASSERT_GE(slot, 0) << first;
  auto rest = client.Send(RequestKind::SelectCandidate, 1, static_cast<uint32_t>(slot));
  ASSERT_TRUE(rest);
  slot = FindCandidate(*rest, second);
  ASSERT_GE(slot, 0) << second;
  auto done = client.Send(RequestKind::SelectCandidate, 1, static_cast<uint32_t>(slot));
  ASSERT_TRUE(done);
  ASSERT_EQ(Field(done->commit_text), first + second);
  ASSERT_EQ(+client.Send(RequestKind::AckCommit, 1)->kind, kOk);
}

std::string FirstCandidate(KaviClient& client, const std::string& letters) {
  PipeResponse state = Type(client, letters);
  client.SendKey(keys::kEscape, 0, 1);
  return state.candidate_count > 0 ? Field(state.candidates[0].text) : std::string();
}

// A client that waits through the engine's reload after a restart.
std::unique_ptr<KaviClient> ReadyClient(const ServerHome& home) {
  for (int i = 0; i < 100; ++i) {
    auto client = std::make_unique<KaviClient>(home.Options());
    if (client->Send(RequestKind::FocusIn, 1) && client->SendKey('n', 0, 1)) {
      client->SendKey(keys::kEscape, 0, 1);
      return client;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return nullptr;
}

bool WaitForFile(const fs::path& file, int timeout_ms = 15000) {
  for (int waited = 0; waited < timeout_ms; waited += 50) {
    if (fs::exists(file)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(UserData, AWordCommittedThreeTimesStillRanksFirstAfterARedeploy) {
  ServerHome home;
  home.StartServer();
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  ASSERT_EQ(FirstCandidate(client, "nihao"), "你好");
  for (int round = 0; round < 3; ++round) CommitPieces(client, "nihao", "你", "号");
  ASSERT_EQ(FirstCandidate(client, "nihao"), "你号");

  ASSERT_EQ(+client.Send(RequestKind::Redeploy, 1)->kind, kOk);
  EXPECT_EQ(WaitForMaintenance(client), 2u);
  EXPECT_FALSE(fs::exists(home.config_dir() / "base_pinyin.userdb" / "user.dict"));
  auto fresh = ReadyClient(home);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(FirstCandidate(*fresh, "nihao"), "你号");
}

TEST(UserData, ARedeployWithoutItsDataGenerationFailsAndRepairsIt) {
  ServerHome home;
  home.StartServer();
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  for (const auto& entry : fs::directory_iterator(home.local_dir() / "build"))
    if (entry.is_directory()) fs::remove_all(entry.path());

  ASSERT_EQ(+client.Send(RequestKind::Redeploy, 1)->kind, kOk);
  EXPECT_EQ(WaitForMaintenance(client), 3u);
  auto fresh = ReadyClient(home);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(FirstCandidate(*fresh, "nihao"), "你好");
}

// Learning reaches the disk a few seconds after the last commit, and at once on SIGHUP, which no
// longer ends the server: a crash afterwards loses nothing.
TEST(UserData, LearningIsSavedSoonAfterACommitOnHangupAndOnAStopAndSurvivesACrash) {
  ServerHome home;
  pid_t server = home.StartServer();
  const fs::path dict = home.config_dir() / "base_pinyin.userdb" / "user.dict";
  {
    KaviClient client(home.Options());
    ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
    for (int round = 0; round < 3; ++round) CommitPieces(client, "nihao", "你", "号");
    ASSERT_TRUE(WaitForFile(dict));

    CommitPieces(client, "nihao", "你", "号");
    fs::remove(dict);
    ASSERT_EQ(::kill(server, SIGHUP), 0);
    ASSERT_TRUE(WaitForFile(dict));
    EXPECT_EQ(FirstCandidate(client, "nihao"), "你号");  // still serving
  }
  ASSERT_EQ(::kill(server, SIGKILL), 0);
  EXPECT_EQ(home.Wait(server), -1);

  server = home.StartServer();
  {
    KaviClient client(home.Options());
    ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
    EXPECT_EQ(FirstCandidate(client, "nihao"), "你号");
    // Learned just before a clean stop, before any scheduled save: the stop saves it.
    for (int round = 0; round < 3; ++round) CommitPieces(client, "women", "我", "门");
    ASSERT_EQ(+client.Send(RequestKind::Shutdown)->kind, kOk);
  }
  EXPECT_EQ(home.Wait(server), 0);
  home.StartServer();
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  EXPECT_EQ(FirstCandidate(client, "women"), "我门");
}

// Applications go on changing focus and polling while a redeploy restarts the engine. Those
// requests do not wait for the dictionaries to load: every one is answered within the time-out
// an application keeps (a missed answer costs it a reconnect, and the user keys).
TEST(UserData, FocusChangesAndPollsAreAnsweredInTimeWhileARedeployRuns) {
  ServerHome home;
  home.StartServer();
  KaviClient typist(home.Options());
  ASSERT_TRUE(typist.Send(RequestKind::FocusIn, 1));
  Commit(typist, "nihao");

  std::atomic<bool> job_over{false};
  std::atomic<int> answered{0};
  std::mutex failures_mutex;
  std::vector<std::string> failures;
  auto application = [&](uint64_t context) {
    ClientOptions options = home.Options();
    options.transaction_timeout_ms = kTransactionTimeoutMs;
    KaviClient client(options);
    while (!job_over) {
      for (RequestKind kind : {RequestKind::FocusIn, RequestKind::PollAsync, RequestKind::FocusOut,
                               RequestKind::PollAsync}) {
        auto reply = client.Send(kind, context);
        if (!reply) {
          std::lock_guard<std::mutex> lock(failures_mutex);
          failures.push_back("kind " + std::to_string(static_cast<int>(kind)) + " of context " +
                             std::to_string(context));
          return;
        }
        ++answered;
      }
    }
  };
  ASSERT_EQ(+typist.Send(RequestKind::Redeploy, 1)->kind, kOk);
  std::vector<std::thread> applications;
  for (uint64_t context = 10; context < 13; ++context) applications.emplace_back(application, context);
  EXPECT_EQ(WaitForMaintenance(typist), 2u);
  job_over = true;
  for (std::thread& t : applications) t.join();
  EXPECT_TRUE(failures.empty()) << failures.front() << " had no answer (of " << failures.size()
                                << ")";
  EXPECT_GT(answered.load(), 0);
  auto fresh = ReadyClient(home);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(FirstCandidate(*fresh, "nihao"), "你好");
}

TEST(UserData, MaintenanceBacksUpRedeploysAndSurvivesACorruptConfiguration) {
  ServerHome home;
  home.StartServer();
  KaviClient client(home.Options());
  ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
  Type(client, "nihao");
  client.SendKey(keys::kSpace, 0, 1);

  ASSERT_EQ(+client.Send(RequestKind::SyncAndRedeploy, 1)->kind, kOk);
  EXPECT_EQ(WaitForMaintenance(client), 2u);
  std::vector<std::filesystem::path> backups;
  for (const auto& entry : std::filesystem::directory_iterator(home.config_dir() / "backups"))
    backups.push_back(entry.path());
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(backups[0].filename().string().size(), 15u);  // yyyymmdd-hhmmss
  bool copied = false;
  for (const auto& entry : std::filesystem::directory_iterator(backups[0]))
    copied |= entry.path().extension() == ".userdb";
  EXPECT_TRUE(copied);

  // A redeploy over a broken configuration fails, and the engine still answers afterwards.
  std::ofstream(home.config_dir() / "config.json") << "{ broken";
  std::filesystem::remove_all(home.config_dir() / "last-good");
  std::filesystem::remove(home.config_dir() / "last-good.snapshot");
  ASSERT_EQ(+client.Send(RequestKind::Redeploy, 1)->kind, kOk);
  EXPECT_EQ(WaitForMaintenance(client), 3u);
  // The restarted engine reloads its dictionaries in the background; a key that arrives first
  // may outlast the client's time-out, so the client may have to reconnect once.
  KaviClient fresh(home.Options());
  std::optional<PipeResponse> first;
  for (int i = 0; i < 100 && !first; ++i) {
    if (fresh.Send(RequestKind::FocusIn, 2)) first = fresh.SendKey('n', 0, 2);
    if (!first) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(first);
  PipeResponse state = Type(fresh, "ihao", 2);
  ASSERT_GT(+state.candidate_count, 0u);
  EXPECT_EQ(Field(state.candidates[0].text), "你好");
}

TEST(UserData, NothingIsCreatedOpenToOthersEvenUnderUmask000) {
  ServerHome home;
  const mode_t old_umask = ::umask(0);
  pid_t server = home.StartServer();
  {
    KaviClient client(home.Options());
    ASSERT_TRUE(client.Send(RequestKind::FocusIn, 1));
    Commit(client, "nihao");
    ASSERT_EQ(+client.Send(RequestKind::SyncAndRedeploy, 1)->kind, kOk);
    EXPECT_EQ(WaitForMaintenance(client), 2u);
    ASSERT_EQ(+client.Send(RequestKind::Shutdown)->kind, kOk);
  }
  EXPECT_EQ(home.Wait(server), 0);
  EXPECT_EQ(home.Settings({"--set", "page_size=6"}), 0);
  EXPECT_EQ(
      home.Wait(home.Spawn(ServerHome::Bin("KaviServer"), {"--bootstrap", "--remove-profile"})), 0);
  ::umask(old_umask);

  size_t user_files = 0;
  for (auto it = fs::recursive_directory_iterator(home.root()); it != fs::end(it); ++it) {
    struct stat info;
    ASSERT_EQ(::lstat(it->path().c_str(), &info), 0);
    if (S_ISLNK(info.st_mode)) continue;
    const fs::path relative = fs::relative(it->path(), home.root());
    EXPECT_EQ(info.st_mode & (S_IWGRP | S_IWOTH), 0u)
        << relative << " " << std::oct << info.st_mode;
    // What the user made (dictionaries, settings, generations, locks) is theirs alone.
    const std::string top = relative.begin()->string();
    if (S_ISDIR(info.st_mode) && relative != "run" &&
        (top == "config" || top == "data" || top == "run") &&
        relative.string().find("/data/") == std::string::npos) {
      EXPECT_EQ(info.st_mode & 0777, 0700u) << relative;
    }
    if (relative.string().find(".userdb/") != std::string::npos) {
      EXPECT_EQ(info.st_mode & 0777, S_ISDIR(info.st_mode) ? 0700u : 0600u) << relative;
      ++user_files;
    }
  }
  EXPECT_GT(user_files, 0u);
}

}  // namespace
}  // namespace kavi::win::testing
