// SPDX-License-Identifier: Apache-2.0
#include "packs/data_generation.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <tuple>

#include "tests/common/file_faults.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::server {
namespace {
using testing::FaultSeam;
using testing::ScopedAtomicWriteFault;
namespace fs = std::filesystem;
using kavi::win::testing::ReadFile;
using kavi::win::testing::TempDir;
using kavi::win::testing::WriteFile;

// Everything that a write would change: inode, size, modification and change times.
using Snapshot = std::map<std::string, std::tuple<ino_t, off_t, int64_t, int64_t>>;

Snapshot TakeSnapshot(const fs::path& root) {
  Snapshot snapshot;
  auto add = [&](const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return;
    snapshot[p.string()] = {st.st_ino, st.st_size,
                            st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                            st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
  };
  add(root);
  for (const auto& entry : fs::recursive_directory_iterator(root)) add(entry.path());
  return snapshot;
}

std::vector<std::string> GenerationNames(const fs::path& root) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(root)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(kGenerationPrefix, 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string CurrentName(const fs::path& root) {
  std::string text = ReadFile(root / kCurrentGenerationName);
  return text.substr(0, text.find('\n'));
}

class DataGenerationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installed_ = dir_.path() / "install" / "data";
    local_root_ = dir_.path() / "local" / "Kavi";
    root_ = local_root_ / kGenerationsFolderName;
    WriteFile(installed_ / "schemas" / "pinyin.schema.yaml", "schema: pinyin\n");
    WriteFile(installed_ / "themes" / "default.yaml", "name: default\n");
    WriteFile(installed_ / "plugin" / "emoji" / "table.txt", "smile 😀\n");
    SetIdentity("0.5.1+aaaa");
  }

  void SetIdentity(const std::string& identity) {
    WriteFile(installed_ / kReleaseIdentityName, identity + "\n");
  }

  fs::path Recover() {
    fs::path data;
    std::string message = "stale";
    EXPECT_TRUE(RecoverDataGeneration(installed_, local_root_, &data, &message)) << message;
    EXPECT_EQ(message, "");
    return data;
  }

  void MakeGeneration(const std::string& name, const std::string& identity, bool complete) {
    WriteFile(root_ / name / kGenerationDataName / kReleaseIdentityName, identity + "\n");
    if (complete) WriteFile(root_ / name / kGenerationCompleteName, "ok\n");
  }

  TempDir dir_;
  fs::path installed_, local_root_, root_;
};

TEST_F(DataGenerationTest, FirstRecoveryCopiesMarksAndActivates) {
  fs::path data = Recover();

  std::vector<std::string> names = GenerationNames(root_);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(data, root_ / names[0] / "data");
  EXPECT_EQ(ReadFile(root_ / kCurrentGenerationName), names[0] + "\n");
  EXPECT_EQ(ReadFile(root_ / names[0] / "COMPLETE"), "ok\n");
  EXPECT_EQ(ReadFile(data / "plugin" / "emoji" / "table.txt"), "smile 😀\n");
  EXPECT_EQ(ReadReleaseIdentity(data), "0.5.1+aaaa");
  EXPECT_FALSE(fs::exists(root_ / "current.txt.tmp"));
}

TEST_F(DataGenerationTest, MatchingCurrentGenerationIsReusedWithoutAnyWrite) {
  fs::path first = Recover();
  Snapshot before = TakeSnapshot(local_root_);
  // A changed data file under the same identity is not noticed: the identity is the contract.
  WriteFile(installed_ / "themes" / "default.yaml", "name: changed\n");

  EXPECT_EQ(Recover(), first);
  EXPECT_EQ(TakeSnapshot(local_root_), before);
  EXPECT_EQ(ReadFile(first / "themes" / "default.yaml"), "name: default\n");
}

TEST_F(DataGenerationTest, UpgradesCreateGenerationsAndKeepOneOlder) {
  fs::path a = Recover();
  SetIdentity("0.5.2+bbbb");
  fs::path b = Recover();
  ASSERT_NE(a, b);
  EXPECT_EQ(GenerationNames(root_).size(), 2u);
  EXPECT_EQ(CurrentName(root_), b.parent_path().filename().string());

  SetIdentity("0.5.3+cccc");
  fs::path c = Recover();
  EXPECT_FALSE(fs::exists(a.parent_path()));
  EXPECT_TRUE(fs::exists(b / kReleaseIdentityName));
  EXPECT_EQ(GenerationNames(root_).size(), 2u);
  EXPECT_EQ(CurrentName(root_), c.parent_path().filename().string());

  // Going back to the release of the older generation reuses it by the candidate search.
  SetIdentity("0.5.2+bbbb");
  EXPECT_EQ(Recover(), b);
  EXPECT_EQ(CurrentName(root_), b.parent_path().filename().string());
  EXPECT_EQ(GenerationNames(root_).size(), 2u);
}

TEST_F(DataGenerationTest, IncompleteGenerationsAreNeverChosenNorPruned) {
  MakeGeneration("gen.500", "0.5.1+aaaa", false);
  MakeGeneration("gen.900", "0.5.1+aaaa", false);
  // "COMPLETE" must be a regular file.
  MakeGeneration("gen.950", "0.5.1+aaaa", false);
  fs::create_directories(root_ / "gen.950" / kGenerationCompleteName);
  WriteFile(root_ / kCurrentGenerationName, "gen.500\n");

  fs::path data = Recover();
  const std::string chosen = data.parent_path().filename().string();
  EXPECT_EQ(CurrentName(root_), chosen);
  for (const char* incomplete : {"gen.500", "gen.900", "gen.950"}) {
    EXPECT_NE(chosen, incomplete);
    EXPECT_TRUE(fs::exists(root_ / incomplete)) << incomplete;
  }
}

TEST_F(DataGenerationTest, CandidateSearchTakesNewestMatchAndIgnoresForeignNames) {
  MakeGeneration("gen.100", "0.5.1+aaaa", true);
  MakeGeneration("gen.300", "0.5.1+aaaa", true);
  MakeGeneration("gen.400", "0.4.0+zzzz", true);
  // A name from "current.txt" that leads out of the root is not followed.
  MakeGeneration("../escape", "0.5.1+aaaa", true);
  WriteFile(root_ / kCurrentGenerationName, "gen.300/../../escape\n");

  EXPECT_EQ(Recover(), root_ / "gen.300" / "data");
  EXPECT_EQ(ReadFile(root_ / kCurrentGenerationName), "gen.300\n");
  // Reuse does not prune.
  EXPECT_EQ(GenerationNames(root_), (std::vector<std::string>{"gen.100", "gen.300", "gen.400"}));
}

TEST_F(DataGenerationTest, PruneKeepsActiveAndNewestOtherComplete) {
  MakeGeneration("gen.1", "x", true);
  MakeGeneration("gen.20", "x", true);
  MakeGeneration("gen.3", "x", true);
  MakeGeneration("gen.4", "x", false);
  MakeGeneration("gen.2", "x", true);
  PruneGenerations(root_, "gen.2");
  // Ordered by the time in the name, not as text: gen.20 is the newest of the others.
  EXPECT_EQ(GenerationNames(root_), (std::vector<std::string>{"gen.2", "gen.20", "gen.4"}));
}

TEST_F(DataGenerationTest, DataWithoutIdentityIsCopiedAfresh) {
  fs::remove(installed_ / kReleaseIdentityName);
  fs::path first = Recover();
  fs::path second = Recover();
  EXPECT_NE(first, second);
  EXPECT_EQ(CurrentName(root_), second.parent_path().filename().string());
}

TEST_F(DataGenerationTest, FailuresReportTheirMessageAndLeaveNoGeneration) {
  fs::path data;
  std::string message;
  EXPECT_FALSE(RecoverDataGeneration(dir_.path() / "nowhere", local_root_, &data, &message));
  EXPECT_EQ(message, "安裝資料不存在");
  EXPECT_FALSE(fs::exists(local_root_));
  EXPECT_FALSE(RecoverDataGeneration(installed_, local_root_, nullptr, &message));
  EXPECT_EQ(message, "安裝資料不存在");

  WriteFile(dir_.path() / "blocked", "a file where the root's parent should be");
  EXPECT_FALSE(RecoverDataGeneration(installed_, dir_.path() / "blocked", &data, &message));
  EXPECT_NE(message.find("create_directories"), std::string::npos) << message;

  // A FIFO cannot be copied: the copy fails part-way.
  Recover();
  std::string current = ReadFile(root_ / kCurrentGenerationName);
  SetIdentity("0.6.0+ffff");
  ASSERT_EQ(::mkfifo((installed_ / "schemas" / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(RecoverDataGeneration(installed_, local_root_, &data, &message));
  EXPECT_EQ(message, "建立資料代失敗");
  EXPECT_EQ(GenerationNames(root_).size(), 1u);
  EXPECT_EQ(ReadFile(root_ / kCurrentGenerationName), current);
}

TEST_F(DataGenerationTest, UnwrittenCurrentFileIsFoundAgainByTheSearch) {
  fs::path data;
  {
    // The first rename completes the generation; "current.txt" and every later one fail.
    FaultSeam fault(AtomicWriteStep::kRename, FaultSeam::Action::kFail,
                    std::chrono::milliseconds(0), 2);
    ScopedFileSystemSeam scope(&fault);
    data = Recover();
    std::string message;
    EXPECT_FALSE(ActivateGeneration(root_, "gen.1", &message));
    EXPECT_FALSE(message.empty());
  }
  // The complete generation serves this start-up; the next one finds and activates it.
  EXPECT_FALSE(fs::exists(root_ / kCurrentGenerationName));
  EXPECT_FALSE(fs::exists(root_ / "current.txt.tmp"));
  EXPECT_EQ(Recover(), data);
  EXPECT_EQ(CurrentName(root_), data.parent_path().filename().string());
  EXPECT_EQ(GenerationNames(root_).size(), 1u);
}

TEST_F(DataGenerationTest, ADeletedOrDamagedGenerationIsRepairedInPlace) {
  const fs::path data = Recover();
  const std::string name = CurrentName(root_);
  for (const fs::path& damage : {data.parent_path(), data / "schemas"}) {
    fs::remove_all(damage);
    std::string message = "stale";
    ASSERT_TRUE(RepairGeneration(installed_, data, &message)) << message;
    EXPECT_EQ(message, "");
    EXPECT_TRUE(IsCompleteGeneration(data.parent_path()));
    EXPECT_EQ(ReadFile(data / "schemas" / "pinyin.schema.yaml"), "schema: pinyin\n");
    EXPECT_EQ(ReadReleaseIdentity(data), "0.5.1+aaaa");
    EXPECT_EQ(GenerationNames(root_), std::vector<std::string>{name});
    EXPECT_EQ(CurrentName(root_), name);
    EXPECT_EQ(Recover(), data);
  }
  // Only a generation's own data directory is repaired, and only from installed data.
  std::string message;
  EXPECT_FALSE(RepairGeneration(installed_, dir_.path() / "elsewhere" / "data", &message));
  EXPECT_FALSE(RepairGeneration(dir_.path() / "missing", data, &message));
  EXPECT_EQ(message, "安裝資料不存在");
}

TEST_F(DataGenerationTest, CopyKilledMidwayNeverBecomesCurrent) {
  // Enough files that the copy takes a while; the child also runs at the lowest priority.
  for (int d = 0; d < 20; ++d)
    for (int f = 0; f < 100; ++f)
      WriteFile(installed_ / ("d" + std::to_string(d)) / ("f" + std::to_string(f)),
                std::string(8192, static_cast<char>('a' + d)));

  int killed_midway = 0;
  for (int attempt = 0; attempt < 5 && killed_midway == 0; ++attempt) {
    local_root_ = dir_.path() / ("local" + std::to_string(attempt)) / "Kavi";
    root_ = local_root_ / kGenerationsFolderName;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::setpriority(PRIO_PROCESS, 0, 19);
      fs::path data;
      RecoverDataGeneration(installed_, local_root_, &data, nullptr);
      ::_exit(0);
    }
    // Kill as soon as the first copied directory shows up in a generation.
    fs::path partial;
    bool exited = false;
    while (partial.empty() && !exited) {
      std::error_code ec;
      for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
        if (!fs::is_empty(it->path() / "data", ec) && !ec) partial = it->path();
      }
      int status;
      exited = partial.empty() && ::waitpid(child, &status, WNOHANG) == child;
    }
    if (exited) continue;
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    if (fs::exists(partial / kGenerationCompleteName)) continue;  // The copy won the race.
    ++killed_midway;

    EXPECT_FALSE(fs::exists(root_ / kCurrentGenerationName));
    // Whether or not the copy reached the identity file, the cut-short copy must not be used.
    WriteFile(partial / "data" / kReleaseIdentityName, "0.5.1+aaaa\n");
    fs::path data = Recover();
    EXPECT_NE(data.parent_path(), partial);
    EXPECT_EQ(CurrentName(root_), data.parent_path().filename().string());
    EXPECT_EQ(ReadFile(data / "d19" / "f99"), std::string(8192, 't'));
    // The cut-short copy stays as it was, unused: a live server could be its writer.
    EXPECT_TRUE(fs::exists(partial));
    EXPECT_FALSE(fs::exists(partial / kGenerationCompleteName));
    EXPECT_EQ(Recover(), data);
  }
  EXPECT_EQ(killed_midway, 1) << "every copy finished before it could be killed";
}

}  // namespace
}  // namespace kavi::win::server
