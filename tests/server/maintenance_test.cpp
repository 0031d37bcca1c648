// SPDX-License-Identifier: Apache-2.0
// The maintenance jobs over real files, with the fake engine.
#include "server/app/maintenance_jobs.h"
#include "server/app/user_data_saver.h"
#include "tests/server/server_fixture.h"

namespace kavi::win::testing {
namespace {

class Maintenance : public ::testing::Test {
 protected:
  void SetUp() override { Fake().Reset(); }

  // Runs one job to its end and returns the final status.
  uint32_t RunJob(MaintenanceJobs& jobs, bool sync) {
    flags_.busy = true;
    EXPECT_TRUE(jobs.Start(sync));
    jobs.Join();
    EXPECT_FALSE(flags_.busy);
    return flags_.maintenance_status;
  }

  TempDir temp_;
  const std::filesystem::path dir_ = temp_.path();
  JobFlags flags_;
  bool restart_ok_ = true;
  int restarts_ = 0;
  MaintenanceJobs::EngineRestart Restart() {
    return [this](std::string* message) {
      ++restarts_;
      if (!restart_ok_) *message = "config.json: unexpected end";
      return restart_ok_;
    };
  }
};

TEST_F(Maintenance, BackupsOfOneSecondShareADirectoryAndOverwrite) {
  WriteFile(dir_ / "base_pinyin.userdb" / "user.dict", "first");
  WriteFile(dir_ / "wubi86.userdb", "table");
  WriteFile(dir_ / "config.json", "{}");
  WriteFile(dir_ / "notes.userdb.txt", "not a dictionary");
  MaintenanceJobs jobs(dir_, flags_, Restart(), [] { return std::time_t{1733450000}; });

  EXPECT_EQ(RunJob(jobs, true), 2u);
  EXPECT_EQ(Fake().sync_calls, 1);
  EXPECT_EQ(Fake().finalize_calls, 1);
  const std::filesystem::path backup = dir_ / "backups" / BackupStamp(1733450000);
  EXPECT_EQ(backup.filename(), "20241206-015320");
  EXPECT_EQ(ReadFile(backup / "base_pinyin.userdb" / "user.dict"), "first");
  EXPECT_EQ(ReadFile(backup / "wubi86.userdb"), "table");
  EXPECT_FALSE(std::filesystem::exists(backup / "config.json"));
  EXPECT_FALSE(std::filesystem::exists(backup / "notes.userdb.txt"));

  WriteFile(dir_ / "base_pinyin.userdb" / "user.dict", "second");
  EXPECT_EQ(RunJob(jobs, true), 2u);
  EXPECT_EQ(ReadFile(backup / "base_pinyin.userdb" / "user.dict"), "second");
  size_t stamps = 0;
  for (auto& e : std::filesystem::directory_iterator(dir_ / "backups")) stamps += e.is_directory();
  EXPECT_EQ(stamps, 1u);
  EXPECT_EQ(restarts_, 2);
}

TEST_F(Maintenance, NoDictionariesGiveAnEmptyBackupAndRedeployDeletesThem) {
  MaintenanceJobs jobs(dir_, flags_, Restart(), [] { return std::time_t{0}; });
  EXPECT_EQ(RunJob(jobs, true), 2u);
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "backups" / "19700101-000000"));

  WriteFile(dir_ / "base_pinyin.userdb" / "user.dict", "x");
  WriteFile(dir_ / "config.json", "{}");
  EXPECT_EQ(RunJob(jobs, false), 2u);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "base_pinyin.userdb"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "config.json"));
  EXPECT_EQ(Fake().sync_calls, 1);  // a redeploy does not sync
}

TEST_F(Maintenance, AFailedRestartOrCopyFailsTheJobButTheEngineIsRestarted) {
  restart_ok_ = false;
  MaintenanceJobs jobs(dir_, flags_, Restart());
  EXPECT_EQ(RunJob(jobs, false), 3u);
  EXPECT_EQ(restarts_, 1);

  restart_ok_ = true;
  WriteFile(dir_ / "base_pinyin.userdb" / "user.dict", "x");
  // "backups" is a file: the copy cannot make its directory.
  WriteFile(dir_ / "backups", "in the way");
  EXPECT_EQ(RunJob(jobs, true), 3u);
  EXPECT_EQ(restarts_, 2);
}

// While a job reads the engine's dictionaries for its restart, the engine lock stays free:
// focus changes and polls are answered at once (a client gives up on a transaction after
// 250 ms and would lose keys reconnecting), keys are told Busy, and the job still ends well.
TEST_F(ServerTest, AJobReadsTheRestartsDictionariesWithoutHoldingTheEngine) {
  std::mutex gate_mutex;
  std::condition_variable gate;
  bool preparing = false, released = false;
  Fake().on_prepare_restart = [&] {
    std::unique_lock<std::mutex> lock(gate_mutex);
    preparing = true;
    gate.notify_all();
    gate.wait(lock, [&] { return released; });
  };
  const std::filesystem::path user = dir_ / "user";
  std::filesystem::create_directories(user);
  MaintenanceJobs jobs(user, shared_.jobs, [](std::string*) { return true; });
  services_.maintenance = &jobs;
  StartServer();
  auto typist = FocusedClient(1);
  auto other = NewClient();
  ASSERT_EQ(+typist->Send(RequestKind::Redeploy, 1)->kind, kOk);
  {
    std::unique_lock<std::mutex> lock(gate_mutex);
    ASSERT_TRUE(gate.wait_for(lock, std::chrono::seconds(10), [&] { return preparing; }));
  }
  EXPECT_EQ(+typist->SendKey('a', 0, 1)->kind, kBusy);
  for (RequestKind kind : {RequestKind::PollAsync, RequestKind::FocusOut}) {
    auto reply = typist->Send(kind, 1);
    ASSERT_TRUE(reply) << static_cast<int>(kind);
    EXPECT_EQ(+reply->kind, kOk) << static_cast<int>(kind);
  }
  auto focus = other->Send(RequestKind::FocusIn, 2);
  ASSERT_TRUE(focus);
  EXPECT_EQ(+focus->kind, kState);
  EXPECT_EQ(Fake().finalize_calls, 0);  // the engine is still up
  {
    std::lock_guard<std::mutex> lock(gate_mutex);
    released = true;
  }
  gate.notify_all();
  jobs.Join();
  EXPECT_EQ(shared_.jobs.maintenance_status, static_cast<uint32_t>(JobStatus::Done));
  EXPECT_EQ(Fake().finalize_calls, 1);
  EXPECT_EQ(+other->SendKey('a', 0, 2)->kind, kState);
  StopServer();
}

// The saver against a counting save: a burst of commits is one save after the quiet delay, a
// steady stream is saved at least every `longest`, SaveNow saves with nothing committed, and
// nothing is saved without a reason.
TEST(UserDataSaverTest, SavesOnceAfterABurstAtLeastEveryLongestAndOnDemand) {
  using namespace std::chrono_literals;
  std::mutex mutex;
  std::condition_variable saved;
  std::atomic<int> saves{0};
  auto count = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    ++saves;
    saved.notify_all();
  };
  auto wait_for = [&](int n) {
    std::unique_lock<std::mutex> lock(mutex);
    return saved.wait_for(lock, 5s, [&] { return saves >= n; });
  };
  UserDataSaver saver(count, 100ms, 400ms);
  for (int i = 0; i < 5; ++i) saver.NoteCommit();
  ASSERT_TRUE(wait_for(1));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(saves, 1);

  // Commits closer together than the quiet delay still reach the disk within `longest`.
  const auto start = std::chrono::steady_clock::now();
  while (saves < 2 && std::chrono::steady_clock::now() - start < 5s) {
    saver.NoteCommit();
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(saves, 2);
  saver.NoteCommit();
  ASSERT_TRUE(wait_for(3));

  saver.SaveNow();
  EXPECT_TRUE(wait_for(4));
  saver.Stop();
  EXPECT_EQ(saves, 4);
}

}  // namespace
}  // namespace kavi::win::testing
