// SPDX-License-Identifier: Apache-2.0
#include "config/config_watcher.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "config/atomic_file.h"
#include "config/config_files.h"
#include "config/config_store.h"
#include "tests/common/temp_dir.h"
#include "tests/config/settings_runner.h"

namespace kavi::win {
namespace {

using kavi::win::testing::TempDir;
using kavi::win::testing::WriteFile;

// Counts reloads; the first one can be held open to let changes pile up behind it.
class ReloadProbe {
 public:
  void OnReload() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++count_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !hold_; });
  }
  void Hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = true;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = false;
    changed_.notify_all();
  }
  // Waits without a deadline: a reload that never comes fails through the test's time-out.
  void WaitForCount(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return count_ >= count; });
  }
  int count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
  bool hold_ = false;
};

ConfigRecord Versioned(uint64_t version, int page_size) {
  ConfigRecord record;
  record.engine.config_version = version;
  record.app.config_version = version;
  record.engine.page_size = page_size;
  return record;
}

void SaveLikeTheSettingsApplication(const std::filesystem::path& dir, const ConfigRecord& record) {
  ASSERT_TRUE(server::WriteFileAtomically(dir / kConfigFileName,
                                          server::FormatConfigFile(record.engine), nullptr));
  ASSERT_TRUE(server::WriteFileAtomically(dir / kAppOptionsFileName,
                                          server::FormatAppOptionsFile(record.app), nullptr));
}

TEST(ConfigWatcher, ReloadsTheStoreAfterASave) {
  TempDir dir;
  ConfigStore store(dir.path());
  ReloadProbe probe;
  ConfigWatcher watcher(dir.path(), [&] {
    store.Load(nullptr, nullptr);
    probe.OnReload();
  });
  ASSERT_TRUE(watcher.running());
  SaveLikeTheSettingsApplication(dir.path(), Versioned(1, 7));
  // On a slow machine the first reload may see only config.json; the second file's own change
  // then brings a later one.
  for (int reloads = 1; store.Snapshot().engine.config_version != 1; ++reloads) {
    probe.WaitForCount(reloads);
  }
  EXPECT_EQ(store.Snapshot().engine.page_size, 7);
}

// KaviSettings on a slow disk (every fsync 100 ms): the watcher fires after the first of its
// five writes, and the reload must wait for the save to settle instead of "repairing" the half-
// written pair from the older snapshot. Not one of twenty saves may be lost.
TEST(ConfigWatcher, NoSaveIsLostToASlowDisk) {
  TempDir dir;
  ConfigStore store(dir.path());
  std::mutex mutex;
  std::condition_variable reloaded;
  ConfigWatcher watcher(dir.path(), [&] {
    store.Load(nullptr, nullptr);
    std::lock_guard<std::mutex> lock(mutex);
    reloaded.notify_all();
  });
  ASSERT_TRUE(watcher.running());
  const std::vector<std::string> slow_disk = {"LD_PRELOAD=" KAVI_SLOW_FSYNC_LIBRARY};
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int page_size = 5 + attempt % 12;
    const testing::RunResult run = testing::RunSettings(
        dir.path(), {"--set", "page_size=" + std::to_string(page_size)}, slow_disk);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const uint64_t version = static_cast<uint64_t>(attempt) + 1;
    {
      std::unique_lock<std::mutex> lock(mutex);
      reloaded.wait_for(lock, std::chrono::seconds(10),
                        [&] { return store.Snapshot().engine.config_version >= version; });
    }
    // Whatever reloads are still to come, the save stays: on disk and in force.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ConfigRecord on_disk;
    std::string message;
    ASSERT_TRUE(server::LoadConfig(dir.path(), &on_disk, &message)) << message;
    ASSERT_EQ(on_disk.engine.config_version, version) << "attempt " << attempt;
    ASSERT_EQ(on_disk.engine.page_size, page_size) << "attempt " << attempt;
    ASSERT_EQ(store.Snapshot().engine.page_size, page_size) << "attempt " << attempt;
  }
}

TEST(ConfigWatcher, CollapsesChangesThatArriveDuringAReload) {
  TempDir dir;
  ReloadProbe probe;
  probe.Hold();
  ConfigWatcher watcher(dir.path(), [&] { probe.OnReload(); });
  SaveLikeTheSettingsApplication(dir.path(), Versioned(1, 6));
  probe.WaitForCount(1);
  for (int i = 2; i < 12; ++i) SaveLikeTheSettingsApplication(dir.path(), Versioned(i, 6));
  // Plain writes (closed after writing) count as well as renames.
  WriteFile(dir.path() / kAppOptionsFileName, "{}");
  probe.Release();
  probe.WaitForCount(2);
  watcher.Stop();
  EXPECT_EQ(probe.count(), 2);
}

TEST(ConfigWatcher, IgnoresOtherFilesOfTheDirectory) {
  TempDir dir;
  ReloadProbe probe;
  probe.Hold();
  ConfigWatcher watcher(
      dir.path(), [&] { probe.OnReload(); }, std::chrono::milliseconds(0));
  WriteFile(dir.path() / kConfigFileName, "{}");
  probe.WaitForCount(1);
  // Queued while the first reload runs: had they counted, they would bring the second reload,
  // and the config.json write below a third.
  WriteFile(dir.path() / "registry.json", "{}");
  WriteFile(dir.path() / kLastGoodSnapshotFileName, "x");
  WriteFile(dir.path() / "config.json.tmp", "x");
  probe.Release();
  WriteFile(dir.path() / kConfigFileName, "{}");
  probe.WaitForCount(2);
  watcher.Stop();
  EXPECT_EQ(probe.count(), 2);
}

TEST(ConfigWatcher, StopIsSafeTwiceAndWithoutAThread) {
  TempDir dir;
  ReloadProbe probe;
  ConfigWatcher watcher(dir.path(), [&] { probe.OnReload(); });
  ASSERT_TRUE(watcher.running());
  watcher.Stop();
  EXPECT_FALSE(watcher.running());
  watcher.Stop();
  SaveLikeTheSettingsApplication(dir.path(), Versioned(1, 6));
  EXPECT_EQ(probe.count(), 0);

  // A directory whose parent does not exist cannot be watched: no thread, and stopping still
  // works. (A missing directory with a parent is watched for its creation, below.)
  ConfigWatcher broken(dir.path() / "missing" / "Kavi", [&] { probe.OnReload(); });
  EXPECT_FALSE(broken.running());
  broken.Stop();
}

// The configuration directory created after the start, deleted and made again, or replaced by
// another (a restored backup, a sync tool): every save in whatever directory has the path now
// reaches the store.
TEST(ConfigWatcher, FollowsTheDirectoryWhenItIsCreatedDeletedOrReplaced) {
  TempDir dir;
  const std::filesystem::path config = dir.path() / "Kavi";
  ConfigStore store(config);
  std::mutex mutex;
  std::condition_variable reloaded;
  ConfigWatcher watcher(config, [&] {
    store.Load(nullptr, nullptr);
    std::lock_guard<std::mutex> lock(mutex);
    reloaded.notify_all();
  });
  ASSERT_TRUE(watcher.running());
  auto wait_for_version = [&](uint64_t version) {
    std::unique_lock<std::mutex> lock(mutex);
    return reloaded.wait_for(lock, std::chrono::seconds(10),
                             [&] { return store.Snapshot().engine.config_version == version; });
  };
  auto save_in = [&](const std::filesystem::path& where, uint64_t version) {
    std::filesystem::create_directories(where);
    SaveLikeTheSettingsApplication(where, Versioned(version, 6));
  };

  save_in(config, 1);
  EXPECT_TRUE(wait_for_version(1));
  std::filesystem::remove_all(config);
  save_in(config, 2);
  EXPECT_TRUE(wait_for_version(2));
  // Replaced by a directory prepared elsewhere, with the old one moved aside or deleted.
  save_in(dir.path() / "restored", 3);
  std::filesystem::rename(config, dir.path() / "Kavi.old");
  std::filesystem::rename(dir.path() / "restored", config);
  EXPECT_TRUE(wait_for_version(3));
  save_in(dir.path() / "synced", 4);
  std::filesystem::remove_all(config);
  std::filesystem::rename(dir.path() / "synced", config);
  EXPECT_TRUE(wait_for_version(4));
  // The directory the watch moved to is watched like the first one.
  save_in(config, 5);
  EXPECT_TRUE(wait_for_version(5));
  // The old directory is not.
  save_in(dir.path() / "Kavi.old", 6);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(store.Snapshot().engine.config_version, 5u);
}

TEST(ConfigStore, KeepsTheRecordInForceWhenALoadFails) {
  TempDir dir;
  SaveLikeTheSettingsApplication(dir.path(), Versioned(3, 8));
  ConfigStore store(dir.path());
  EXPECT_EQ(store.Snapshot(), ConfigRecord());
  ConfigRecord loaded;
  std::string message;
  ASSERT_TRUE(store.Load(&loaded, &message));
  EXPECT_EQ(loaded, Versioned(3, 8));
  WriteFile(dir.path() / kAppOptionsFileName, "{\"config_version\": x}");
  EXPECT_FALSE(store.Load(&loaded, &message));
  EXPECT_EQ(message, "配置版本無效");
  EXPECT_EQ(store.Snapshot(), Versioned(3, 8));
}

}  // namespace
}  // namespace kavi::win
