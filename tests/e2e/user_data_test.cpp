// What the real server keeps on disk for the user, end to end: its modes, its learned words
// across saves, redeploys and crashes.
#include <sys/stat.h>

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
