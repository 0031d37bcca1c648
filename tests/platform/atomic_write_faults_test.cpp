// SPDX-License-Identifier: Apache-2.0
// Every file the program owns, written while the process fails or ends at each step of the
// replacement: afterwards the old or the new file is there whole, never neither.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "config/atomic_file.h"
#include "net/cloud_state.h"
#include "ovra/user_db.h"
#include "packs/data_generation.h"
#include "platform/autostart/autostart.h"
#include "platform/profiles/profile_registry.h"
#include "tests/common/file_faults.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::testing {
namespace {
namespace fs = std::filesystem;

// One kind of owned file: how to write its version 1 or 2 into a directory, and where it lands.
struct OwnedFile {
  const char* name;
  fs::path file;
  std::function<bool(const fs::path& dir, int version)> write;
};

const OwnedFile kOwnedFiles[] = {
    {"user dictionary", fs::path("base_pinyin.userdb") / "user.dict",
     [](const fs::path& dir, int version) {
       return UserDb(dir, "base_pinyin")
           .Write(
               "user.dict",
               [&](std::ostream& out) { out << std::string(5000, 'a' + version) << version; },
               nullptr);
     }},
    {"configuration", "config.json",
     [](const fs::path& dir, int version) {
       return server::WriteFileAtomically(
           dir / "config.json", "{\n  \"config_version\": " + std::to_string(version) + "\n}\n",
           nullptr);
     }},
    {"profile registry", "current-language",
     [](const fs::path& dir, int version) {
       FileProfileRegistry registry(dir);
       return registry.ChangeCurrentLanguage(version == 1 ? 0x0804 : 0x0404, nullptr);
     }},
    {"autostart entry", "kavi.desktop",
     [](const fs::path& dir, int version) {
       return WriteAutostartEntry(dir, "/opt/kavi-" + std::to_string(version) + "/KaviServer",
                                  nullptr);
     }},
    {"cloud input queue", "pending.json",
     [](const fs::path& dir, int version) {
       CloudState state;
       for (int i = 0; i < 200 * version; ++i)
         state.pending_reports[CloudEntryKey("zi", "字" + std::to_string(i))] = version;
       return WriteCloudStateFile(dir / "pending.json", SerializeCloudState(state));
     }},
};

class AtomicWriteFaults : public ::testing::TestWithParam<OwnedFile> {};

TEST_P(AtomicWriteFaults, TheOldOrTheNewFileIsWholeAfterAFailureOrAnEndAtEveryStep) {
  const OwnedFile& owned = GetParam();
  TempDir reference;
  ASSERT_TRUE(owned.write(reference.path(), 1));
  const std::string old_bytes = ReadFile(reference.path() / owned.file);
  ASSERT_TRUE(owned.write(reference.path(), 2));
  const std::string new_bytes = ReadFile(reference.path() / owned.file);
  ASSERT_NE(old_bytes, new_bytes);

  for (AtomicWriteStep step : kEveryWriteStep) {
    SCOPED_TRACE(static_cast<int>(step));
    TempDir dir;
    ASSERT_TRUE(owned.write(dir.path(), 1));
    {
      FaultSeam seam(step, FaultSeam::Action::kFail);
      ScopedFileSystemSeam scope(&seam);
      EXPECT_FALSE(owned.write(dir.path(), 2));
    }
    std::string after = ReadFile(dir.path() / owned.file);
    EXPECT_TRUE(after == old_bytes || after == new_bytes) << after;
    EXPECT_EQ(after == new_bytes, step == AtomicWriteStep::kSyncDirectory);

    ASSERT_TRUE(owned.write(dir.path(), 1));
    ASSERT_TRUE(EndProcessDuring(step, [&] { owned.write(dir.path(), 2); }));
    after = ReadFile(dir.path() / owned.file);
    EXPECT_TRUE(after == old_bytes || after == new_bytes) << after;
    // Whatever the end left behind, the next write goes through.
    ASSERT_TRUE(owned.write(dir.path(), 2));
    EXPECT_EQ(ReadFile(dir.path() / owned.file), new_bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(OwnedFiles, AtomicWriteFaults, ::testing::ValuesIn(kOwnedFiles),
                         [](const ::testing::TestParamInfo<OwnedFile>& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (c == ' ') c = '_';
                           return name;
                         });

// A generation is two replacements: its "COMPLETE" marker, then "current.txt". Ended at any
// step of either, the next start finds a whole generation of the installed data.
TEST(GenerationFaults, AnUpgradeEndedAtAnyStepLeavesAWholeGenerationToStartFrom) {
  for (int occurrence : {1, 2}) {
    for (AtomicWriteStep step : kEveryWriteStep) {
      SCOPED_TRACE(std::to_string(occurrence) + "/" + std::to_string(static_cast<int>(step)));
      TempDir dir;
      const fs::path installed = dir.path() / "installed";
      const fs::path root = dir.path() / "build";
      WriteFile(installed / ".kavi-release", "release-1\n");
      WriteFile(installed / "schemas" / "a.yaml", std::string(3000, 'x'));
      fs::path data;
      std::string message;
      ASSERT_TRUE(server::PrepareGeneration(root, installed, &data, &message)) << message;

      WriteFile(installed / ".kavi-release", "release-2\n");
      WriteFile(installed / "schemas" / "a.yaml", std::string(3000, 'y'));
      ASSERT_TRUE(EndProcessDuring(
          step, [&] { server::PrepareGeneration(root, installed, &data, nullptr); }, occurrence));
      const std::string current = ReadFile(root / "current.txt");
      EXPECT_TRUE(current.size() > 5 && current.back() == '\n') << current;
      EXPECT_TRUE(server::IsCompleteGeneration(root / current.substr(0, current.size() - 1)));

      ASSERT_TRUE(server::PrepareGeneration(root, installed, &data, &message)) << message;
      EXPECT_EQ(server::ReadReleaseIdentity(data), "release-2");
      EXPECT_EQ(ReadFile(data / "schemas" / "a.yaml"), std::string(3000, 'y'));
    }
  }
}

}  // namespace
}  // namespace kavi::win::testing
