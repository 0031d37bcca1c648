// SPDX-License-Identifier: Apache-2.0
// KaviSettings run as the toolbar runs it: a separate process writing real files.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "config/config_files.h"
#include "tests/common/temp_dir.h"
#include "tests/config/settings_runner.h"

namespace kavi::win {
namespace {

using kavi::win::testing::ReadFile;
using kavi::win::testing::RunResult;
using kavi::win::testing::RunSettings;
using kavi::win::testing::TempDir;
using kavi::win::testing::WriteFile;

ConfigRecord Load(const std::filesystem::path& dir) {
  ConfigRecord record;
  std::string message;
  EXPECT_TRUE(server::LoadConfig(dir, &record, &message)) << message;
  return record;
}

class SettingsAppTest : public ::testing::Test {
 protected:
  std::filesystem::path File(std::string_view name) const { return dir_.path() / name; }
  TempDir dir_;
};

TEST_F(SettingsAppTest, TogglesWriteBothFilesWithTheNextVersionAndASnapshot) {
  RunResult run = RunSettings(dir_.path(), {"--toggle-traditional"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "config_version=1\ncharset=zht\n");
  ConfigRecord record = Load(dir_.path());
  EXPECT_EQ(record.engine.charset, "zht");
  EXPECT_EQ(record.engine.config_version, 1u);
  EXPECT_EQ(record.app.config_version, 1u);

  ASSERT_EQ(RunSettings(dir_.path(), {"--toggle-melt-eng", "--toggle-key-sound"}).exit_code, 0);
  ASSERT_EQ(RunSettings(dir_.path(), {"--toggle-traditional"}).exit_code, 0);
  record = Load(dir_.path());
  EXPECT_EQ(record.engine.charset, "zhs");
  EXPECT_FALSE(record.engine.melt_english);
  EXPECT_TRUE(record.app.key_sound);
  EXPECT_EQ(record.app.config_version, 3u);

  const std::string config = ReadFile(File(kConfigFileName));
  const std::string options = ReadFile(File(kAppOptionsFileName));
  EXPECT_EQ(config, server::FormatConfigFile(record.engine));
  EXPECT_EQ(ReadFile(File(kLastGoodSnapshotFileName)),
            config + std::string(kSnapshotSeparator) + options);
  EXPECT_EQ(ReadFile(dir_.path() / kLastGoodDirectoryName / kAppOptionsFileName), options);
  EXPECT_FALSE(std::filesystem::exists(File("config.json.tmp")));
}

TEST_F(SettingsAppTest, SetsAndGetsEveryKindOfKey) {
  RunResult run =
      RunSettings(dir_.path(), {"--set", "page_size=7", "--set=inline_preedit=false", "--set",
                                "stroke_keys=ASDFG", "--set", "status_bar_back_color=0xFF112233",
                                "--set", "candidate_bg_image_path=/home/u/圖片/bg \"1\".png",
                                "--set-voice-lang=jp", "--set", "translate_target_lang=dict",
                                "--set", "fuzzy=an_ang, zh_z,an_ang", "--get", "page_size"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(run.out.ends_with("\n7\n")) << run.out;
  const ConfigRecord record = Load(dir_.path());
  EXPECT_EQ(record.engine.page_size, 7);
  EXPECT_FALSE(record.engine.inline_preedit);
  EXPECT_EQ(record.engine.stroke_keys, "asdfg");
  EXPECT_EQ(record.app.status_bar_back_color, "0xFF112233");
  EXPECT_EQ(record.app.candidate_bg_image_path, "/home/u/圖片/bg \"1\".png");
  EXPECT_EQ(record.app.voice_output_language, "jp");
  EXPECT_EQ(record.app.translate_target_lang, "dict");
  EXPECT_EQ(RunSettings(dir_.path(), {"--get", "fuzzy"}).out, "an_ang,zh_z\n");

  run = RunSettings(dir_.path(), {"--list"});
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("\nstroke_keys=asdfg\n"), std::string::npos);
  EXPECT_NE(run.out.find("\ncandidate_bg_image_path=/home/u/圖片/bg \"1\".png\n"),
            std::string::npos);
  // Every key of the two files, then the five endpoint keys (the companion's two public keys
  // among them) and the fuzzy sounds.
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 40);
  EXPECT_TRUE(run.out.ends_with("\nfuzzy=an_ang,zh_z\n")) << run.out;
  EXPECT_NE(run.out.find("\nservice_base_url=https://localhost:8443\n"), std::string::npos);
}

TEST_F(SettingsAppTest, ConcurrentChangesAllLand) {
  // Each flips a different key away from its default; a lost update shows as a default.
  const std::vector<std::string> changes = {"horizontal=false",  "ext_cjk=true",
                                            "prediction=true",   "full_width=true",
                                            "voice_polish=true", "voice_bilingual=true"};
  std::vector<int> exit_codes(changes.size(), -1);
  std::vector<std::thread> runs;
  for (size_t i = 0; i < changes.size(); ++i) {
    runs.emplace_back([&, i] {
      exit_codes[i] = RunSettings(dir_.path(), {"--set", changes[i]}).exit_code;
    });
  }
  for (std::thread& run : runs) run.join();
  for (int code : exit_codes) EXPECT_EQ(code, 0);
  const ConfigRecord record = Load(dir_.path());
  EXPECT_EQ(record.engine.config_version, changes.size());
  EXPECT_FALSE(record.engine.horizontal);
  EXPECT_TRUE(record.engine.ext_cjk);
  EXPECT_TRUE(record.engine.prediction);
  EXPECT_TRUE(record.engine.full_width);
  EXPECT_TRUE(record.app.voice_polish);
  EXPECT_TRUE(record.app.voice_bilingual);
}

TEST_F(SettingsAppTest, AnUnreadableConfigurationIsReportedNotACrash) {
  // A directory where config.json belongs reads as a missing file: with app_options.json missing
  // too, the settings are the defaults; a save cannot replace it and says so.
  std::filesystem::create_directory(File(kConfigFileName));
  RunResult run = RunSettings(dir_.path(), {"--get", "page_size"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "10\n");
  run = RunSettings(dir_.path(), {"--set", "page_size=9"});
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_NE(run.err.find("config.json"), std::string::npos) << run.err;
  EXPECT_TRUE(std::filesystem::is_directory(File(kConfigFileName)));
}

// What each key refuses is SettingKeysTest's (tests/settings); here the command line's own
// refusals, and that a refused run writes nothing, not even the parts of it that were good.
TEST_F(SettingsAppTest, RefusesBadRequestsAndChangesNothing) {
  ASSERT_EQ(RunSettings(dir_.path(), {"--set", "page_size=9"}).exit_code, 0);
  const std::string config = ReadFile(File(kConfigFileName));
  const std::string options = ReadFile(File(kAppOptionsFileName));
  const std::string snapshot = ReadFile(File(kLastGoodSnapshotFileName));
  const std::vector<std::vector<std::string>> refused = {
      {"--set", "page_size=40"},
      {"--toggle-traditional", "--set", "caps_lock_mode=Switch"},
      {"--set", "page_size=9", "--set", "fuzzy=zh_z,z_zh"},
      {"--set", "config_version=9"},
      {"--set", "no_such_key=1"},
      {"--set", "page_size"},
      {"--get", "no_such_key"},
      {"--set-voice-lang=xx"},
      {"--page=nowhere"},
      {"--bogus"},
      {"--translate-popup=12"},
  };
  for (const std::vector<std::string>& args : refused) {
    const RunResult run = RunSettings(dir_.path(), args);
    EXPECT_EQ(run.exit_code, 2) << args.back();
    EXPECT_TRUE(run.err.starts_with("KaviSettings: ")) << run.err;
  }
  EXPECT_EQ(ReadFile(File(kConfigFileName)), config);
  EXPECT_EQ(ReadFile(File(kAppOptionsFileName)), options);
  EXPECT_EQ(ReadFile(File(kLastGoodSnapshotFileName)), snapshot);
  EXPECT_FALSE(std::filesystem::exists(File("pinyin.custom.yaml")));
  EXPECT_EQ(RunSettings(dir_.path(), {"--set", "page_size=40"}).err,
            "KaviSettings: page_size must be an integer from 5 to 16, not \"40\"\n");
}

TEST_F(SettingsAppTest, ThemeMustNameAThemeOfTheCatalogueOrTheUsersOwn) {
  WriteFile(dir_.path() / "themes" / "my_blue.yaml",
            "preset_color_schemes:\n  my_blue:\n    name: \"我的藍\"\n    back_color: 0xFF0000\n");
  WriteFile(dir_.path() / "themes" / "broken.yaml", "preset_color_schemes: 3\n");
  WriteFile(dir_.path() / "themes" / "Upper.yaml",
            "preset_color_schemes:\n  Upper:\n    name: x\n");
  ASSERT_EQ(RunSettings(dir_.path(), {"--set", "page_size=9"}).exit_code, 0);
  const std::string options = ReadFile(File(kAppOptionsFileName));

  for (const char* theme : {"Dark", "../x", "no_such_theme", "broken", "Upper", "_"}) {
    const RunResult run = RunSettings(dir_.path(), {"--set", std::string("theme=") + theme});
    EXPECT_EQ(run.exit_code, 2) << theme;
    EXPECT_TRUE(run.err.starts_with("KaviSettings: theme must be native 系統配色 | ink_wash "))
        << run.err;
    EXPECT_NE(run.err.find(" | my_blue 我的藍, not \"" + std::string(theme) + "\"\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("broken"), run.err.rfind("broken")) << "listed once at most";
  }
  EXPECT_EQ(ReadFile(File(kAppOptionsFileName)), options);

  for (const char* theme : {"daylight", "my_blue", "native"}) {
    const RunResult run = RunSettings(dir_.path(), {"--set", std::string("theme=") + theme});
    EXPECT_EQ(run.exit_code, 0) << theme << ": " << run.err;
    EXPECT_EQ(Load(dir_.path()).app.theme, theme);
  }
  // The appearance page shows what may be chosen.
  const RunResult page = RunSettings(dir_.path(), {"--page=appearance"});
  EXPECT_NE(page.out.find("allowed: native 系統配色 | ink_wash "), std::string::npos) << page.out;
}

TEST_F(SettingsAppTest, ShowsPagesWithValuesAndAllowedValues) {
  RunResult run = RunSettings(dir_.path(), {"--page=voice"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(
      run.out.starts_with("[voice] 語音\n  voice_engine = senseVoice\n"
                          "      allowed: senseVoice | qwen3\n"))
      << run.out;
  EXPECT_NE(run.out.find("follow 跟隨設定 | cn 簡體中文"), std::string::npos);
  EXPECT_EQ(run.out.find("page_size"), std::string::npos);
  run = RunSettings(dir_.path(), {"--page=input"});
  EXPECT_NE(run.out.find("\n  fuzzy = \n      allowed: a comma-separated list (empty for none) of: "
                         "zh_z (z = zh) ch_c (c = ch)"),
            std::string::npos)
      << run.out;

  run = RunSettings(dir_.path(), {"--page=about"});
  EXPECT_NE(run.out.find("KaviSettings 0.5.1"), std::string::npos);
  run = RunSettings(dir_.path(), {});
  ASSERT_EQ(run.exit_code, 0);
  for (const char* page :
       {"[input]", "[appearance]", "[sound]", "[voice]", "[translate]", "[general]", "[about]"}) {
    EXPECT_NE(run.out.find(page), std::string::npos) << page;
  }
  EXPECT_EQ(RunSettings(dir_.path(), {"--page=account"}).exit_code, 0);
  // Reading creates nothing.
  EXPECT_FALSE(std::filesystem::exists(File(kConfigFileName)));
}

TEST_F(SettingsAppTest, TranslatePopupSaysItNeedsTheServer) {
  const RunResult run = RunSettings(dir_.path(), {"--translate-popup=640,-20"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_NE(run.err.find("640,-20"), std::string::npos);
}

TEST_F(SettingsAppTest, RepairsATornPairBeforeEditingIt) {
  ASSERT_EQ(RunSettings(dir_.path(), {"--set", "page_size=8"}).exit_code, 0);
  // A save that stopped between its two writes.
  std::string torn = ReadFile(File(kConfigFileName));
  torn.replace(torn.find("\"config_version\": 1"), 19, "\"config_version\": 2");
  WriteFile(File(kConfigFileName), torn);
  const RunResult run = RunSettings(dir_.path(), {"--set", "key_sound_volume=30"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const ConfigRecord record = Load(dir_.path());
  EXPECT_EQ(record.engine.page_size, 8);
  EXPECT_EQ(record.app.key_sound_volume, 30);
  EXPECT_EQ(record.engine.config_version, 2u);

  WriteFile(File(kLastGoodSnapshotFileName), "no separator");
  std::filesystem::remove_all(dir_.path() / kLastGoodDirectoryName);
  WriteFile(File(kConfigFileName), torn.replace(torn.find("2"), 1, "7"));
  const RunResult broken = RunSettings(dir_.path(), {"--set", "key_sound_volume=31"});
  EXPECT_EQ(broken.exit_code, 1);
  EXPECT_NE(broken.err.find("配置版本不一致"), std::string::npos) << broken.err;
}

}  // namespace
}  // namespace kavi::win
