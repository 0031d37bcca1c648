// SPDX-License-Identifier: Apache-2.0
#include "config/config_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "config/atomic_file.h"
#include "tests/common/file_faults.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::server {
namespace {
using testing::ScopedAtomicWriteFault;

using kavi::win::testing::ReadFile;
using kavi::win::testing::TempDir;
using kavi::win::testing::WriteFile;

std::optional<std::string> Scan(std::string_view text, std::string_view key) {
  std::string value = "unset";
  if (!FindConfigValue(text, key, &value)) return std::nullopt;
  return value;
}

TEST(FindConfigValue, ReadsStringsAndRawTokens) {
  EXPECT_EQ(Scan("{\"theme\": \"dark\"}", "theme"), "dark");
  EXPECT_EQ(Scan("{\"theme\"\n:\r\n\t \"a\\\"b\\\\c\\/\\n\"}", "theme"), "a\"b\\c/\n");
  EXPECT_EQ(Scan("{\"t\": \"\\u4e2d\\ud83d\\ude00\"}", "t"), "中\xF0\x9F\x98\x80");
  EXPECT_EQ(Scan("{\"t\": \"\\u0000\"}", "t"), std::string(1, '\0'));
  EXPECT_EQ(Scan("{\"horizontal\": false   ,\n", "horizontal"), "false");
  EXPECT_EQ(Scan("{\"page_size\": 12px}", "page_size"), "12px");
  EXPECT_EQ(Scan("\"n\": 7", "n"), "7");
  EXPECT_EQ(Scan("\"n\": -1\r\n", "n"), "-1");
  // The configuration files are flat: the first occurrence wins even inside another value.
  EXPECT_EQ(
      Scan("{\"theme\": \"a\\\"charset\", \"foo\": \"zht\", \"charset\": \"zhs\"}", "charset"),
      "zht");
}

TEST(FindConfigValue, GivesNoValueForMalformedText) {
  const std::pair<const char*, const char*> cases[] = {
      {"{\"theme\": \"a\\qb\"}", "invalid escape"},
      {"{\"theme\": \"ab", "unterminated"},
      {"{\"theme\": \"a\tb\"}", "raw control byte"},
      {"{\"theme\": \"\\u12\"}", "short unicode escape"},
      {"{\"theme\": \"\\ud83d\"}", "lone high surrogate"},
      {"{\"theme\": \"\\ud83d\\u0041\"}", "bad low surrogate"},
      {"{\"theme\": \"\\ude00\"}", "lone low surrogate"},
      {"{\"theme\": }", "empty token"},
      {"{\"theme\":    ", "nothing after the colon"},
      {"{\"theme\" \"x\"}", "no colon"},
      {"{\"themes\": \"x\"}", "another key"},
      {"{theme: \"x\"}", "unquoted key"},
  };
  for (const auto& [text, why] : cases) EXPECT_EQ(Scan(text, "theme"), std::nullopt) << why;
}

std::string Config(std::string_view body, std::string_view version = "1") {
  return "{\n  \"config_version\": " + std::string(version) + ",\n" + std::string(body) + "\n}\n";
}

ConfigRecord ParseOk(std::string_view config_body, std::string_view options_body) {
  ConfigRecord record;
  std::string message = "stale";
  EXPECT_TRUE(ParseConfigTexts(Config(config_body), Config(options_body), &record, &message))
      << message;
  EXPECT_EQ(message, "");
  return record;
}

// Clamping to each key's range is SettingKeysTest's (tests/settings); here the malformed forms a
// hand-edited file may hold.
TEST(ParseConfigTexts, FallsBackOnMalformedNumbers) {
  EXPECT_EQ(ParseOk("\"page_size\": \"x\"", "").engine.page_size, 10);
  EXPECT_EQ(ParseOk("\"page_size\": 12px", "").engine.page_size, 12);
  EXPECT_EQ(ParseOk("\"page_size\": 99999999999", "").engine.page_size, 10);
  EXPECT_EQ(ParseOk("\"page_size\": -2147483648", "").engine.page_size, 5);
  EXPECT_EQ(ParseOk("", "\"key_sound_volume\": +35").app.key_sound_volume, 35);
}

TEST(ParseConfigTexts, FoldsStrokeKeysAndComparesEnumerationsCaseSensitively) {
  EXPECT_EQ(ParseOk("\"stroke_keys\": \"HSPNZ\"", "").engine.stroke_keys, "hspnz");
  EXPECT_EQ(ParseOk("\"stroke_keys\": \"AsDfG\"", "").engine.stroke_keys, "asdfg");
  EXPECT_EQ(ParseOk("\"stroke_keys\": \"hhpnz\"", "").engine.stroke_keys, "hspnz");
  EXPECT_EQ(ParseOk("\"stroke_keys\": \"hspn\"", "").engine.stroke_keys, "hspnz");
  EXPECT_EQ(ParseOk("\"stroke_keys\": \"hsp1z\"", "").engine.stroke_keys, "hspnz");

  ConfigRecord record = ParseOk("",
                                "\"caps_lock_mode\": \"Switch\", \"key_sound_type\": \"KEY28\","
                                "\"voice_engine\": \"Qwen3\", \"voice_output_language\": "
                                "\"JP\", \"translate_target_lang\": \"xx\"");
  EXPECT_EQ(record.app.caps_lock_mode, "lock");
  EXPECT_EQ(record.app.key_sound_type, "key14");
  EXPECT_EQ(record.app.voice_engine, "senseVoice");
  EXPECT_EQ(record.app.voice_output_language, "follow");
  EXPECT_EQ(record.app.translate_target_lang, "en");
}

TEST(ParseConfigTexts, ReadsBooleansOnlyFromExactLowerCaseWords) {
  EXPECT_FALSE(ParseOk("\"horizontal\": false   ,", "").engine.horizontal);
  EXPECT_FALSE(ParseOk("\"inline_preedit\": \"false\"", "").engine.inline_preedit);
  EXPECT_TRUE(ParseOk("\"prediction\": true", "").engine.prediction);
  EXPECT_FALSE(ParseOk("\"prediction\": True", "").engine.prediction);
  EXPECT_TRUE(ParseOk("\"melt_english\": 0", "").engine.melt_english);
  EXPECT_TRUE(ParseOk("", "\"disable_auto_update_check\": true").app.disable_auto_update_check);
}

TEST(ParseConfigTexts, RejectsBadVersionsAndMalformedStringsWithoutTouchingTheOutput) {
  const std::pair<std::pair<std::string, std::string>, std::string> cases[] = {
      {{"{\"schema\": \"x\"}", Config("")}, "配置版本無效"},
      {{Config(""), "{}"}, "配置版本無效"},
      {{Config("", "\"abc\""), Config("")}, "配置版本無效"},
      {{Config("", "-1"), Config("")}, "配置版本無效"},
      {{Config("", "18446744073709551616"), Config("")}, "配置版本無效"},
      {{Config(""), Config("\"theme\": \"a\\qb\"")}, "配置字串欄位無效"},
      {{Config("\"schema\": "), Config("")}, "配置字串欄位無效"},
      {{Config(""), Config("\"candidate_bg_image_path\": \"\\ud800\"")}, "配置字串欄位無效"},
  };
  for (const auto& [texts, expected] : cases) {
    ConfigRecord record;
    record.engine.schema = "kept";
    std::string message;
    EXPECT_FALSE(ParseConfigTexts(texts.first, texts.second, &record, &message)) << texts.first;
    EXPECT_EQ(message, expected) << texts.first << texts.second;
    EXPECT_EQ(record.engine.schema, "kept");
  }
  ConfigRecord record;
  ASSERT_TRUE(
      ParseConfigTexts(Config("", " 18446744073709551615"), Config("", "\"7\""), &record, nullptr));
  EXPECT_EQ(record.engine.config_version, 18446744073709551615ULL);
  EXPECT_EQ(record.app.config_version, 7u);
}

ConfigRecord UnusualRecord(uint64_t version) {
  ConfigRecord record;
  record.engine.config_version = version;
  record.app.config_version = version;
  record.engine.schema = "stroke";
  record.engine.charset = "zht";
  record.engine.stroke_keys = "asdfg";
  record.engine.page_size = 7;
  record.engine.horizontal = false;
  record.engine.ext_cjk = true;
  record.app.theme = "quote\" back\\ tab\t nul\x01 中文";
  record.app.key_sound = true;
  record.app.key_sound_type = "key31";
  record.app.key_sound_volume = 0;
  record.app.voice_output_language = "jp";
  record.app.caps_lock_mode = "switch";
  record.app.status_bar_corner_radius = 20;
  record.app.candidate_bg_image_path = "/home/u/圖片/bg.png";
  return record;
}

TEST(ConfigFileFormat, WritesTheSettingsApplicationLayoutAndReadsBack) {
  EXPECT_EQ(FormatConfigFile(EngineSettings()),
            "{\n  \"config_version\": 0,\n  \"schema\": \"base_pinyin\",\n  \"charset\": \"zhs\",\n"
            "  \"stroke_keys\": \"hspnz\",\n  \"page_size\": 10,\n  \"horizontal\": true,\n"
            "  \"shift_toggle\": true,\n  \"melt_english\": true,\n  \"ext_cjk\": false,\n"
            "  \"prediction\": false,\n  \"full_width\": false,\n  \"inline_preedit\": true\n}\n");
  const std::string options = FormatAppOptionsFile(AppOptions());
  EXPECT_TRUE(options.starts_with("{\n  \"config_version\": 0,\n  \"theme\": \"native\",\n"));
  EXPECT_NE(options.find("\"status_bar_bg_image_path\": \"\",\n"), std::string::npos);
  EXPECT_TRUE(options.ends_with("  \"candidate_bg_image_path\": \"\"\n}\n"));

  const ConfigRecord record = UnusualRecord(42);
  EXPECT_NE(FormatAppOptionsFile(record.app).find("nul\\u0001"), std::string::npos);
  ConfigRecord read;
  ASSERT_TRUE(ParseConfigTexts(FormatConfigFile(record.engine), FormatAppOptionsFile(record.app),
                               &read, nullptr));
  EXPECT_EQ(read, record);
}

class ConfigDirTest : public ::testing::Test {
 protected:
  std::filesystem::path File(std::string_view name) const { return dir_.path() / name; }
  void WritePair(const ConfigRecord& record, const std::filesystem::path& directory) {
    WriteFile(directory / kConfigFileName, FormatConfigFile(record.engine));
    WriteFile(directory / kAppOptionsFileName, FormatAppOptionsFile(record.app));
  }
  void WriteSnapshot(const ConfigRecord& record) {
    WriteFile(File(kLastGoodSnapshotFileName), FormatConfigFile(record.engine) +
                                                   std::string(kSnapshotSeparator) +
                                                   FormatAppOptionsFile(record.app));
  }

  TempDir dir_;
};

TEST_F(ConfigDirTest, ReadsDefaultsFromAnEmptyDirectoryAndRefusesHalfAPair) {
  ConfigRecord record = UnusualRecord(3);
  std::string message;
  ASSERT_TRUE(ReadConfigFiles(dir_.path(), &record, &message));
  EXPECT_EQ(record, ConfigRecord());
  ASSERT_TRUE(LoadConfig(dir_.path(), &record, &message));
  EXPECT_EQ(record, ConfigRecord());

  WriteFile(File(kConfigFileName), Config(""));
  EXPECT_FALSE(ReadConfigFiles(dir_.path(), &record, &message));
  EXPECT_EQ(message, "配置文件缺失");
  int pauses = 0;
  EXPECT_FALSE(LoadConfig(dir_.path(), &record, &message, [&] { ++pauses; }));
  EXPECT_EQ(message, "配置文件缺失");
  EXPECT_EQ(pauses, 3);
  EXPECT_EQ(record, ConfigRecord());
  EXPECT_FALSE(LoadConfig(dir_.path(), nullptr, &message));
}

// A configuration file that cannot be read (a directory, a FIFO) counts as missing: the load
// fails with a message, never with an exception, and never waits on the FIFO.
TEST_F(ConfigDirTest, AnUnreadableFileIsMissingNotACrash) {
  for (const char* unreadable : {kConfigFileName, kAppOptionsFileName}) {
    for (bool fifo : {false, true}) {
      SCOPED_TRACE(std::string(unreadable) + (fifo ? " fifo" : " directory"));
      TempDir dir;
      WritePair(UnusualRecord(4), dir.path());
      std::filesystem::remove(dir.path() / unreadable);
      if (fifo) {
        ASSERT_EQ(::mkfifo((dir.path() / unreadable).c_str(), 0600), 0);
      } else {
        std::filesystem::create_directory(dir.path() / unreadable);
      }
      ConfigRecord record;
      std::string message;
      EXPECT_FALSE(LoadConfig(dir.path(), &record, &message, [] {}));
      EXPECT_EQ(message, "配置文件缺失");
      EXPECT_EQ(record, ConfigRecord());
    }
  }
}

TEST_F(ConfigDirTest, AbsorbsATornPairThroughTheRetries) {
  ConfigRecord first = UnusualRecord(6);
  first.app.config_version = 5;
  WritePair(first, dir_.path());
  WriteSnapshot(UnusualRecord(4));
  // The settings application finishes its second write while the loader waits.
  int pauses = 0;
  ConfigRecord record;
  std::string message;
  ASSERT_TRUE(LoadConfig(dir_.path(), &record, &message, [&] {
    if (++pauses == 2) WritePair(UnusualRecord(6), dir_.path());
  }));
  EXPECT_EQ(pauses, 2);
  EXPECT_EQ(record, UnusualRecord(6));
  EXPECT_EQ(message, "");
}

TEST_F(ConfigDirTest, RestoresAnInconsistentPairFromTheSnapshot) {
  ConfigRecord torn = UnusualRecord(5);
  torn.app.config_version = 6;
  WritePair(torn, dir_.path());
  ConfigRecord good = UnusualRecord(4);
  good.engine.page_size = 9;
  WriteSnapshot(good);

  ConfigRecord record;
  std::string message = "stale";
  ASSERT_TRUE(LoadConfig(dir_.path(), &record, &message, [] {}));
  EXPECT_EQ(message, "");
  EXPECT_EQ(record, good);
  EXPECT_EQ(ReadFile(File(kConfigFileName)), FormatConfigFile(good.engine));
  EXPECT_EQ(ReadFile(File(kAppOptionsFileName)), FormatAppOptionsFile(good.app));
  EXPECT_FALSE(std::filesystem::exists(File("config.json.tmp")));
}

TEST_F(ConfigDirTest, FallsBackToTheLastGoodDirectoryWhenTheSnapshotHasNoSeparator) {
  WriteFile(File(kConfigFileName), Config(""));  // app_options.json is missing
  WriteFile(File(kLastGoodSnapshotFileName), FormatConfigFile(UnusualRecord(8).engine));
  std::filesystem::create_directory(File(kLastGoodDirectoryName));
  WritePair(UnusualRecord(8), File(kLastGoodDirectoryName));
  ConfigRecord record;
  std::string message;
  ASSERT_TRUE(LoadConfig(dir_.path(), &record, &message, [] {}));
  EXPECT_EQ(record, UnusualRecord(8));
  EXPECT_EQ(ReadFile(File(kAppOptionsFileName)), FormatAppOptionsFile(UnusualRecord(8).app));
}

TEST_F(ConfigDirTest, LeavesEverythingAloneWhenNoConsistentSnapshotExists) {
  ConfigRecord torn = UnusualRecord(5);
  torn.app.config_version = 6;
  WritePair(torn, dir_.path());
  const std::string live = ReadFile(File(kAppOptionsFileName));
  ConfigRecord record;
  std::string message;
  // No snapshot and an empty last-good directory: its defaults must not replace the live files.
  EXPECT_FALSE(LoadConfig(dir_.path(), &record, &message, [] {}));
  EXPECT_EQ(message, "配置版本不一致");

  ConfigRecord inconsistent = UnusualRecord(2);
  inconsistent.app.config_version = 3;
  WriteSnapshot(inconsistent);
  EXPECT_FALSE(LoadConfig(dir_.path(), &record, &message, [] {}));
  EXPECT_EQ(message, "配置版本不一致");

  WriteSnapshot(UnusualRecord(2));
  {
    ScopedAtomicWriteFault fault(AtomicWriteStep::kRename);
    EXPECT_FALSE(LoadConfig(dir_.path(), &record, &message, [] {}));
  }
  EXPECT_EQ(record, ConfigRecord());
  EXPECT_EQ(ReadFile(File(kAppOptionsFileName)), live);
}

TEST_F(ConfigDirTest, AtomicWriteKeepsTheOldFileOnEveryFailure) {
  const std::filesystem::path target = File("state.json");
  ASSERT_TRUE(WriteFileAtomically(target, "old", nullptr));
  for (AtomicWriteStep step : {AtomicWriteStep::kCreate, AtomicWriteStep::kWrite,
                               AtomicWriteStep::kFlush, AtomicWriteStep::kRename}) {
    ScopedAtomicWriteFault fault(step);
    std::string message;
    EXPECT_FALSE(WriteFileAtomically(target, "new content", &message));
    EXPECT_EQ(message, step == AtomicWriteStep::kCreate ? "無法建立暫存配置" : "原子更新配置失敗");
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_FALSE(std::filesystem::exists(File("state.json.tmp")));
  }
  // A stale temporary file from a crash is replaced, not appended to.
  WriteFile(File("state.json.tmp"), "stale stale stale");
  std::string message = "stale";
  ASSERT_TRUE(WriteFileAtomically(target, "new", &message));
  EXPECT_EQ(message, "");
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_FALSE(std::filesystem::exists(File("state.json.tmp")));

  EXPECT_FALSE(WriteFileAtomically(File("missing-dir/x.json"), "x", &message));
  EXPECT_EQ(message, "無法建立暫存配置");
}

TEST_F(ConfigDirTest, AtomicWriteStepsBackWhileAnotherWriterHoldsTheTemporaryFile) {
  const std::filesystem::path target = File("config.json");
  ASSERT_TRUE(WriteFileAtomically(target, "old", nullptr));
  const int other = ::open(File("config.json.tmp").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::write(other, "half", 4), 4);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  std::string message;
  EXPECT_FALSE(WriteFileAtomically(target, "new", &message));
  EXPECT_EQ(message, "無法建立暫存配置");
  EXPECT_EQ(ReadFile(target), "old");
  // The other writer's file is its own to finish or remove.
  EXPECT_EQ(ReadFile(File("config.json.tmp")), "half");
  ::close(other);
  ASSERT_TRUE(WriteFileAtomically(target, "new", &message));
  EXPECT_EQ(ReadFile(target), "new");
}

}  // namespace
}  // namespace kavi::win::server
