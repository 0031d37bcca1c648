// SPDX-License-Identifier: Apache-2.0
// What the settings pages read besides the configuration: the server (a real KaviServer over
// its socket), the dictionary backups, the pending update, and the theme samples.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "tests/common/temp_dir.h"
#include "tests/e2e/server_process.h"
#include "tools/settings/job_watch.h"
#include "tools/settings/server_link.h"
#include "tools/settings/server_requests.h"
#include "tools/settings/theme_choices.h"
#include "tools/settings/theme_sample.h"
#include "tools/settings/user_data_files.h"

namespace kavi::win {
namespace {

using testing::ServerHome;
using testing::TempDir;
using testing::WriteFile;

// The window's main loop in miniature: posted callbacks and timers run on the test's thread,
// one at a time, as GTK runs them.
class TestLoop {
 public:
  ServerLink::Post Post() {
    return [this](std::function<void()> task) { Add(0, std::move(task)); };
  }
  JobWatch::Schedule Schedule() {
    return [this](int delay_ms, std::function<void()> task) { Add(delay_ms, std::move(task)); };
  }
  // Runs tasks until `done` holds; false after `limit`.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!Due()) {
          if (Clock::now() >= deadline) return false;
          const Clock::time_point next =
              tasks_.empty() ? deadline : std::min(deadline, tasks_.front().first);
          wake_.wait_until(lock, next);
        }
        task = std::move(tasks_.front().second);
        tasks_.pop_front();
      }
      task();
    }
    return true;
  }

 private:
  using Clock = std::chrono::steady_clock;
  void Add(int delay_ms, std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks_.emplace_back(Clock::now() + std::chrono::milliseconds(delay_ms), std::move(task));
      std::stable_sort(tasks_.begin(), tasks_.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    wake_.notify_one();
  }
  bool Due() const { return !tasks_.empty() && tasks_.front().first <= Clock::now(); }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<Clock::time_point, std::function<void()>>> tasks_;
};

ServerAnswer Answer(ReplyKind kind, std::string message = {}, uint32_t value = 0) {
  ServerAnswer answer;
  answer.reached = true;
  answer.reply.kind = static_cast<uint16_t>(kind);
  answer.reply.value = value;
  CopyTextField(answer.reply.commit_text, message);
  return answer;
}

TEST(ServerRequestsTest, AServiceTheServerLacksIsToldFromOneThatRefuses) {
  EXPECT_EQ(ServiceStateOf(ServerAnswer{}), ServiceState::kServerNotRunning);
  EXPECT_EQ(ServiceStateOf(Answer(ReplyKind::Refused)), ServiceState::kNotInBuild);
  EXPECT_EQ(ServiceStateOf(Answer(ReplyKind::Refused, "目前沒有模型下載作業")),
            ServiceState::kAvailable);
  EXPECT_EQ(ServiceStateOf(Answer(ReplyKind::State)), ServiceState::kAvailable);
}

TEST(ServerRequestsTest, JobStatusWordsOfEachFamily) {
  using Phase = JobProgress::Phase;
  struct Case {
    JobFamily family;
    uint32_t word;
    Phase phase;
  };
  const Case cases[] = {
      {JobFamily::kMaintenance, 1, Phase::kRunning},
      {JobFamily::kMaintenance, 2, Phase::kDone},
      {JobFamily::kMaintenance, 3, Phase::kFailed},
      {JobFamily::kSchemePack, 4, Phase::kCancelled},
      {JobFamily::kSchemePack, 5, Phase::kCancelled},
      {JobFamily::kVoiceModel, 6, Phase::kRunning},
      {JobFamily::kVoiceModel, 4, Phase::kDone},
      {JobFamily::kVoiceModel, 5, Phase::kFailed},
      {JobFamily::kVoiceModel, 7, Phase::kCancelled},
      {JobFamily::kVoiceModel, 0, Phase::kCancelled},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadJobStatus(c.family, Answer(ReplyKind::State, {}, c.word)).phase, c.phase)
        << static_cast<int>(c.family) << " " << c.word;
  }
  ServerAnswer download = Answer(ReplyKind::State, {}, 6);
  download.reply.cursor = 42;
  EXPECT_EQ(ReadJobStatus(JobFamily::kVoiceModel, download).percent, 42);
  EXPECT_EQ(JobProgressText(ReadJobStatus(JobFamily::kVoiceModel, download)), "進行中 42%");
  EXPECT_EQ(ReadJobStart(Answer(ReplyKind::Busy)).phase, Phase::kBusy);
  const JobProgress refused = ReadJobStart(Answer(ReplyKind::Refused, "方案 ID 無效"));
  EXPECT_EQ(refused.phase, Phase::kRefused);
  EXPECT_EQ(JobProgressText(refused), "輸入服務拒絕了這項作業：方案 ID 無效");
  EXPECT_EQ(ReadJobStart(ServerAnswer{}).phase, Phase::kUnreachable);
}

class SettingsServerTest : public ::testing::Test {
 protected:
  void SetUp() override { home_.StartServer(); }
  ClientOptions Options() const {
    ClientOptions options = SettingsClientOptions();
    options.socket_path = home_.socket();
    return options;
  }
  ServerHome home_;
};

TEST_F(SettingsServerTest, CataloguesArePagedThroughWhole) {
  KaviClient client(Options());
  const CatalogListing schemes = ListCatalog(client, RequestKind::ListCatalog);
  ASSERT_TRUE(schemes.reached);
  std::set<std::string> ids;
  for (const CatalogEntry& entry : schemes.entries) {
    ids.insert(entry.id);
    EXPECT_EQ(entry.detail, "builtin") << entry.id;
  }
  EXPECT_TRUE(ids.count("base_pinyin"));
  EXPECT_TRUE(ids.count("cangjie"));

  // More user themes than one page holds: the listing asks for the rest.
  for (int i = 0; i < 20; ++i) {
    const std::string id = "mine_" + std::to_string(i);
    WriteFile(
        home_.config_dir() / "themes" / (id + ".yaml"),
        "preset_color_schemes:\n  " + id + ":\n    name: \"我的 " + std::to_string(i) + "\"\n");
  }
  const CatalogListing themes = ListCatalog(client, RequestKind::ListCatalogAlt);
  ASSERT_TRUE(themes.reached);
  ASSERT_GT(themes.entries.size(), kMaxCandidateSlots);
  EXPECT_EQ(themes.entries.front().id, "native");
  EXPECT_EQ(themes.entries.back().detail, "我的 " + themes.entries.back().id.substr(5));
  // The same list the command line checks theme names against.
  const ThemeChoices choices(std::filesystem::path(KAVI_BINARY_DIR) / "bin" / "data" / "themes",
                             home_.config_dir() / "themes");
  for (const CatalogEntry& entry : themes.entries) {
    std::string reason;
    EXPECT_TRUE(choices.Check(entry.id, &reason)) << entry.id;
  }
}

TEST_F(SettingsServerTest, ASyncJobIsFollowedToItsEndAndLeavesABackup) {
  WriteFile(home_.config_dir() / "base_pinyin.userdb" / "words.txt", "你好 nihao 3\n");
  TestLoop loop;
  ServerLink link(Options(), loop.Post());
  JobWatch watch(link, loop.Schedule());
  std::vector<JobProgress> seen;
  watch.Start(JobFamily::kMaintenance, RequestKind::SyncAndRedeploy, {},
              [&](const JobProgress& progress) { seen.push_back(progress); });
  ASSERT_TRUE(loop.RunUntil([&] { return !seen.empty() && seen.back().finished(); },
                            std::chrono::seconds(60)));
  EXPECT_EQ(seen.front().phase, JobProgress::Phase::kRunning);
  EXPECT_EQ(seen.back().phase, JobProgress::Phase::kDone) << JobProgressText(seen.back());
  EXPECT_FALSE(watch.running());

  const std::vector<DictionaryBackup> backups = ListBackups(BackupsFolder(home_.config_dir()));
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(backups[0].dictionaries, 1);
  EXPECT_GT(backups[0].bytes, 0u);
}

TEST_F(SettingsServerTest, AStoppedServerIsSaidNotToRun) {
  TestLoop loop;
  ClientOptions options = Options();
  options.socket_path = home_.root() / "run" / "nobody-here";
  ServerLink link(options, loop.Post());
  std::optional<ServerAnswer> answer;
  link.Send(RequestKind::VoiceStatus, {}, 0, [&](const ServerAnswer& a) { answer = a; });
  ASSERT_TRUE(loop.RunUntil([&] { return answer.has_value(); }, std::chrono::seconds(10)));
  EXPECT_EQ(ServiceStateOf(*answer), ServiceState::kServerNotRunning);
}

TEST(UserDataFilesTest, BackupsNewestFirstWithTheirDictionaries) {
  const TempDir dir;
  const std::filesystem::path backups = BackupsFolder(dir.path());
  WriteFile(backups / "20261206-085312" / "a.userdb", "1234");
  WriteFile(backups / "20261206-085312" / "b.userdb" / "words", "12");
  WriteFile(backups / "20261207-000000" / "c.userdb", "1");
  WriteFile(backups / "20261207-000000" / "notes.txt", "xyz");
  WriteFile(backups / "not-a-backup" / "d.userdb", "1");
  WriteFile(backups / "20261399-000000" / "e.userdb", "1");  // no month 13
  WriteFile(backups / "20261208-000000", "a file, not a folder");
  const std::vector<DictionaryBackup> list = ListBackups(backups);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "20261207-000000");
  EXPECT_EQ(list[0].dictionaries, 1);
  EXPECT_EQ(list[0].bytes, 4u);
  EXPECT_EQ(list[1].dictionaries, 2);
  EXPECT_EQ(list[1].bytes, 6u);
  EXPECT_EQ(list[1].when.size(), 16u);  // "2026-12-06 16:53" in the local zone
  EXPECT_TRUE(ListBackups(dir.path() / "missing").empty());
}

TEST(UserDataFilesTest, PendingUpdateIsReadOnlyWhenWholeAndItsPackageThere) {
  const TempDir dir;
  const std::filesystem::path package = dir.path() / "kavi_0.6.0_amd64.deb";
  const std::string sha(64, 'a');
  std::string problem;
  EXPECT_FALSE(ReadPendingUpdate(dir.path(), &problem));
  EXPECT_EQ(problem, "");

  WriteFile(dir.path() / kPendingUpdateFileName,
            "0.6.0\r\n12\r\n" + sha + "\r\n" + package.string() + "\r\n");
  EXPECT_FALSE(ReadPendingUpdate(dir.path(), &problem));
  EXPECT_EQ(problem, "待安裝的更新套件已不存在");
  WriteFile(package, "!<arch>\n");
  std::optional<PendingUpdate> update = ReadPendingUpdate(dir.path(), &problem);
  ASSERT_TRUE(update) << problem;
  EXPECT_EQ(update->version, "0.6.0");
  EXPECT_EQ(update->build, 12u);
  EXPECT_EQ(update->package, package);
  const std::vector<std::string> command = {"pkexec", "apt-get", "install", "--yes",
                                            package.string()};
  EXPECT_EQ(InstallUpdateCommand(*update), command);

  for (const std::string& broken :
       {"0.6.0\n12\n" + sha + "\n" + package.string() + "\n",          // line feeds alone
        "0.6.0\r\n12\r\n" + sha + "\r\n" + package.string(),           // the last line unended
        "0.6.0\r\n1x\r\n" + sha + "\r\n" + package.string() + "\r\n",  // a build that is no number
        "0.6.0\r\n12\r\nabc\r\n" + package.string() + "\r\n"}) {
    WriteFile(dir.path() / kPendingUpdateFileName, broken);
    EXPECT_FALSE(ReadPendingUpdate(dir.path(), &problem)) << broken;
    EXPECT_EQ(problem, "待安裝更新的紀錄無效");
  }
}

TEST(UserDataFilesTest, VersionsCompareNumberByNumber) {
  EXPECT_TRUE(IsNewerVersion("1.2.10", "1.2.9"));
  EXPECT_TRUE(IsNewerVersion("0.6.0", "0.5.1"));
  EXPECT_TRUE(IsNewerVersion("1.2.0.1", "1.2"));
  EXPECT_FALSE(IsNewerVersion("1.2.0", "1.2"));
  EXPECT_FALSE(IsNewerVersion("0.5.1", "0.5.1"));
  EXPECT_FALSE(IsNewerVersion("0.5.0", "0.5.1"));
}

// One pixel of an ARGB32 image.
uint32_t PixelAt(cairo_surface_t* surface, int x, int y) {
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  return *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
}

TEST(ThemeSampleTest, SamplesAreDrawnWithTheThemesColoursInBothModes) {
  ThemeSampleRequest request;
  request.builtin_dir = std::filesystem::path(KAVI_BINARY_DIR) / "bin" / "data" / "themes";
  request.theme_id = "native";
  std::string message;
  CairoSurface light = RenderThemeSample(request, &message);
  ASSERT_TRUE(light) << message;
  request.dark = true;
  CairoSurface dark = RenderThemeSample(request, &message);
  ASSERT_TRUE(dark) << message;
  request.dark = false;
  request.horizontal = false;
  CairoSurface vertical = RenderThemeSample(request, &message);
  ASSERT_TRUE(vertical) << message;
  request.horizontal = true;
  request.scale = 2;
  CairoSurface sharp = RenderThemeSample(request, &message);
  ASSERT_TRUE(sharp) << message;

  const int width = cairo_image_surface_get_width(light.get());
  const int height = cairo_image_surface_get_height(light.get());
  EXPECT_GT(width, height);  // four candidates side by side
  EXPECT_GT(cairo_image_surface_get_height(vertical.get()), height);
  EXPECT_EQ(cairo_image_surface_get_width(sharp.get()), width * 2);
  // The native theme's light background is #FAF9F6, its dark one #2D2D2D (opaque ARGB): here
  // in the empty middle of the preedit line.
  const int x = width / 2, y = 5;
  EXPECT_EQ(PixelAt(light.get(), x, y), 0xFFFAF9F6u);
  EXPECT_EQ(PixelAt(dark.get(), x, y), 0xFF2D2D2Du);

  // An unknown theme is drawn as the window would: with native.
  request.theme_id = "no_such_theme";
  request.scale = 1;
  CairoSurface fallback = RenderThemeSample(request, &message);
  ASSERT_TRUE(fallback);
  EXPECT_EQ(PixelAt(fallback.get(), x, y), 0xFFFAF9F6u);
}

}  // namespace
}  // namespace kavi::win
