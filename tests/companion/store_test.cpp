// SPDX-License-Identifier: Apache-2.0
// The protected item store: items survive a restart, open only with their master key and under
// their own name, and a process killed at any step of a save leaves the old item whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "companion/dpapi_store.h"
#include "tests/common/file_faults.h"
#include "tests/common/temp_dir.h"

namespace kavi::win {
namespace {

using testing::TempDir;

class DpapiStoreTest : public ::testing::Test {
 protected:
  DpapiStore Store() const {
    return DpapiStore(dir_.path() / "gk", dir_.path() / "protect" / "master.key");
  }

  std::string Load(const DpapiStore& store, std::string_view name) {
    std::string bytes, error;
    return store.Load(name, &bytes, &error) ? bytes : "error: " + error;
  }

  static unsigned Mode(const std::filesystem::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
  }

  TempDir dir_;
};

TEST_F(DpapiStoreTest, AnItemSurvivesARestartInItsOwnFileOnlyTheUserCanRead) {
  std::string error;
  ASSERT_TRUE(Store().Save("account_key", std::string(32, '\x7f'), &error)) << error;
  EXPECT_TRUE(error.empty());
  const DpapiStore restarted = Store();
  EXPECT_EQ(Load(restarted, "account_key"), std::string(32, '\x7f'));
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "gk" / "account_key.bin"));
  EXPECT_EQ(Mode(dir_.path() / "gk"), 0700u);
  EXPECT_EQ(Mode(dir_.path() / "gk" / "account_key.bin"), 0600u);
  EXPECT_EQ(Mode(dir_.path() / "protect"), 0700u);
  EXPECT_EQ(Mode(dir_.path() / "protect" / "master.key"), 0600u);
  // The file holds no plain text.
  std::ifstream in(dir_.path() / "gk" / "account_key.bin", std::ios::binary);
  const std::string blob((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(blob.find(std::string(32, '\x7f')), std::string::npos);

  ASSERT_TRUE(restarted.Save("account_key", "replaced", &error));
  EXPECT_EQ(Load(Store(), "account_key"), "replaced");
  ASSERT_TRUE(restarted.Delete("account_key", &error));
  EXPECT_EQ(Load(Store(), "account_key"), std::string("error: ") + kDpapiMissing);
  EXPECT_FALSE(restarted.Delete("account_key", &error));
  EXPECT_EQ(error, kDpapiDeleteFailed);
}

TEST_F(DpapiStoreTest, NamesAndDataOutsideTheRulesAreRefused) {
  const DpapiStore store = Store();
  std::string error, bytes;
  for (std::string_view name : {"", ".", "..", "a/b", "../x", "a b", "ä"}) {
    EXPECT_FALSE(store.Save(name, "x", &error)) << name;
    EXPECT_EQ(error, kDpapiNameOrDataInvalid);
    EXPECT_FALSE(store.Load(name, &bytes, &error)) << name;
    EXPECT_EQ(error, kDpapiNameInvalid);
  }
  EXPECT_FALSE(store.Save(std::string(65, 'a'), "x", &error));
  EXPECT_TRUE(store.Save(std::string(64, 'a'), "x", &error));
  EXPECT_TRUE(store.Save("sign_sk.v-2_", "x", &error));
  EXPECT_FALSE(store.Save("empty", "", &error));
  EXPECT_EQ(error, kDpapiNameOrDataInvalid);
}

TEST_F(DpapiStoreTest, AnotherMasterKeyOrAnotherNameDoesNotOpenAnItem) {
  std::string error;
  ASSERT_TRUE(Store().Save("app_id", "a-1", &error));
  ASSERT_TRUE(Store().Save("safe_id", "s-1", &error));
  // A blob copied under another item's name fails: the name is bound into the encryption.
  std::filesystem::copy_file(dir_.path() / "gk" / "app_id.bin", dir_.path() / "gk" / "safe_id.bin",
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(Load(Store(), "safe_id"), std::string("error: ") + kDpapiDecryptFailed);

  const auto key_file = dir_.path() / "protect" / "master.key";
  std::filesystem::remove(key_file);
  EXPECT_EQ(Load(Store(), "app_id"), std::string("error: ") + kDpapiDecryptFailed);
  std::ofstream(key_file, std::ios::binary) << std::string(32, 'K');
  EXPECT_EQ(Load(Store(), "app_id"), std::string("error: ") + kDpapiDecryptFailed);
}

TEST_F(DpapiStoreTest, AKillDuringASaveLeavesTheOldItem) {
  std::string error;
  ASSERT_TRUE(Store().Save("connection_id", "app.old", &error));
  for (AtomicWriteStep step : testing::kEveryWriteStep) {
    ASSERT_TRUE(testing::EndProcessDuring(step, [this] {
      std::string e;
      Store().Save("connection_id", "app.new", &e);
    }));
    const std::string expected = step == AtomicWriteStep::kSyncDirectory ? "app.new" : "app.old";
    EXPECT_EQ(Load(Store(), "connection_id"), expected) << static_cast<int>(step);
    ASSERT_TRUE(Store().Save("connection_id", "app.old", &error));
  }
}

TEST_F(DpapiStoreTest, ProcessesRacingForTheFirstMasterKeyAgreeOnOne) {
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::string e;
      ::_exit(Store().Save("item" + std::to_string(i), "value" + std::to_string(i), &e) ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(Load(Store(), "item" + std::to_string(i)), "value" + std::to_string(i));
}

}  // namespace
}  // namespace kavi::win
