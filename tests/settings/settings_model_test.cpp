// SPDX-License-Identifier: Apache-2.0
// The settings model without a window: what every key accepts and refuses (the same rules for
// the command line and the window), that the server reads back every accepted value unchanged
// and clamps the way the model's ranges say, where the window shows each key, and which start
// of KaviSettings opens what.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "config/config_files.h"
#include "net/service_endpoints.h"
#include "tests/common/temp_dir.h"
#include "tools/settings/launch_plan.h"
#include "tools/settings/pinyin_settings.h"
#include "tools/settings/setting_keys.h"
#include "tools/settings/settings_store.h"
#include "tools/settings/window_pages.h"

namespace kavi::win {
namespace {

using testing::TempDir;

struct Verdicts {
  std::vector<std::string> accepted;
  std::vector<std::string> refused;
};

// What each type of key must accept and refuse, from the key's own range and choices.
Verdicts VerdictsFor(const SettingKey& key) {
  Verdicts v;
  switch (key.type) {
    case SettingType::kSwitch:
      v.accepted = {"true", "false"};
      v.refused = {"yes", "True", "1", "", "true "};
      break;
    case SettingType::kNumber:
      v.accepted = {std::to_string(key.min), std::to_string(key.max),
                    std::to_string((key.min + key.max) / 2)};
      v.refused = {std::to_string(key.min - 1),
                   std::to_string(key.max + 1),
                   "12px",
                   "",
                   "99999999999",
                   "-",
                   " 7"};
      break;
    case SettingType::kChoice: {
      for (std::string_view choice : key.choices()) v.accepted.emplace_back(choice);
      std::string shouted = v.accepted.front();
      for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      v.refused = {"", "no_such_value", v.accepted.front() + " ", "a\tb"};
      if (shouted != v.accepted.front()) v.refused.push_back(shouted);
      break;
    }
    case SettingType::kReadOnly:
      v.refused = {"0", "9", ""};
      break;
    case SettingType::kText:
      v.refused = {"a\nb", "\x01", std::string("\xff\xfe", 2)};
      break;
  }
  return v;
}

TEST(SettingKeysTest, EveryKeyAcceptsItsValuesAndRefusesTheRestLeavingTheRecordAlone) {
  for (const SettingKey& key : SettingKeys()) {
    SCOPED_TRACE(std::string(key.name));
    const Verdicts v = VerdictsFor(key);
    for (const std::string& value : v.accepted) {
      ConfigRecord record;
      std::string reason;
      EXPECT_TRUE(key.set(value, &record, &reason)) << value << ": " << reason;
      EXPECT_EQ(key.get(record), value);
    }
    for (const std::string& value : v.refused) {
      ConfigRecord record;
      std::string reason;
      EXPECT_FALSE(key.set(value, &record, &reason)) << "accepted \"" << value << "\"";
      EXPECT_FALSE(reason.empty());
      EXPECT_EQ(record, ConfigRecord()) << value;
    }
    // A key's description names what it accepts: the range or every choice.
    if (key.type == SettingType::kNumber) {
      EXPECT_NE(key.allowed().find(std::to_string(key.max)), std::string::npos);
    }
    if (key.type == SettingType::kChoice) {
      for (const std::string& value : v.accepted)
        EXPECT_NE(key.allowed().find(value), std::string::npos) << value;
    }
  }
}

TEST(SettingKeysTest, SpecialRulesOfTheirOwn) {
  struct Case {
    const char* key;
    const char* value;
    bool accepted;
    const char* stored;
  };
  const Case cases[] = {
      {"stroke_keys", "ASDFG", true, "asdfg"},
      {"stroke_keys", "hhpnz", false, ""},
      {"stroke_keys", "hspn", false, ""},
      {"stroke_keys", "hspn1", false, ""},
      {"status_bar_text_color", "0xFF112233", true, "0xFF112233"},
      {"status_bar_text_color", "0xabcdef", true, "0xabcdef"},
      {"status_bar_text_color", "0XABCDEF", false, ""},
      {"status_bar_text_color", "0xABCDE", false, ""},
      {"status_bar_text_color", "red", false, ""},
      {"theme", "", false, ""},
      {"schema", "", false, ""},
      {"candidate_bg_image_path", "", true, ""},
      {"candidate_bg_image_path", "/home/u/圖片/a b.png", true, "/home/u/圖片/a b.png"},
      {"page_size", "-5", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    const SettingKey* key = FindSettingKey(c.key);
    ASSERT_NE(key, nullptr);
    ConfigRecord record;
    std::string reason;
    EXPECT_EQ(key->set(c.value, &record, &reason), c.accepted) << reason;
    if (c.accepted) {
      EXPECT_EQ(key->get(record), c.stored);
    }
  }
}

// The pair as the settings program writes it, read back by the server's parser.
ConfigRecord ReadBack(const ConfigRecord& record) {
  ConfigRecord loaded;
  std::string message;
  EXPECT_TRUE(server::ParseConfigTexts(server::FormatConfigFile(record.engine),
                                       server::FormatAppOptionsFile(record.app), &loaded, &message))
      << message;
  return loaded;
}

// The pair with one key's value replaced by `raw`, as a hand-edited file would hold it.
ConfigRecord ReadBackRaw(const SettingKey& key, const std::string& raw) {
  const ConfigRecord defaults;
  std::string texts[] = {server::FormatConfigFile(defaults.engine),
                         server::FormatAppOptionsFile(defaults.app)};
  std::string& text = texts[key.file == SettingFile::kConfig ? 0 : 1];
  const std::string quoted = "\"" + std::string(key.name) + "\": ";
  const size_t at = text.find(quoted) + quoted.size();
  text.replace(at, text.find_first_of(",\n", at) - at, raw);
  ConfigRecord loaded;
  std::string message;
  EXPECT_TRUE(server::ParseConfigTexts(texts[0], texts[1], &loaded, &message)) << message;
  return loaded;
}

TEST(SettingKeysTest, TheServerReadsBackEveryAcceptedValueAndClampsToTheSameRanges) {
  const ConfigRecord defaults;
  for (const SettingKey& key : SettingKeys()) {
    SCOPED_TRACE(std::string(key.name));
    for (const std::string& value : VerdictsFor(key).accepted) {
      ConfigRecord record;
      std::string reason;
      ASSERT_TRUE(key.set(value, &record, &reason));
      EXPECT_EQ(key.get(ReadBack(record)), value);
    }
    if (key.type == SettingType::kNumber) {
      EXPECT_EQ(key.get(ReadBackRaw(key, std::to_string(key.max + 7))), std::to_string(key.max));
      EXPECT_EQ(key.get(ReadBackRaw(key, std::to_string(key.min - 3))), std::to_string(key.min));
    }
    // What the model refuses, the server replaces with the default; only the charset is kept
    // as it is (anything but the simplified one means traditional output to the server).
    if (key.type == SettingType::kChoice && key.name != "charset") {
      EXPECT_EQ(key.get(ReadBackRaw(key, "\"no_such_value\"")), key.get(defaults));
    }
  }
  // And the files the store writes are what the server loads.
  const TempDir dir;
  const SettingsStore store(dir.path());
  ASSERT_TRUE(store.Set("page_size", "16").ok());
  ConfigRecord loaded;
  std::string message;
  ASSERT_TRUE(server::LoadConfig(dir.path(), &loaded, &message)) << message;
  EXPECT_EQ(loaded.engine.page_size, 16);
}

TEST(SettingsStoreTest, ChangesAreAllOrNothingAndReportWhatChanged) {
  const TempDir dir;
  const SettingsStore store(dir.path());
  SettingsChange change;
  change.edits.push_back(SetKeyEdit(*FindSettingKey("page_size"), "7"));
  change.edits.push_back(SetKeyEdit(*FindSettingKey("caps_lock_mode"), "Switch"));
  ApplyOutcome outcome = store.Apply(change);
  EXPECT_EQ(outcome.status, ApplyOutcome::Status::kRefused);
  EXPECT_EQ(outcome.message, "caps_lock_mode must be switch | lock, not \"Switch\"");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / kConfigFileName));

  change.edits.pop_back();
  change.edits.push_back(ToggleTraditionalEdit());
  change.endpoints.emplace_back(kServiceBaseUrlKey, "https://kavi.example");
  outcome = store.Apply(change);
  ASSERT_TRUE(outcome.ok()) << outcome.message;
  const std::vector<std::pair<std::string, std::string>> changed = {
      {"config_version", "1"},
      {"charset", "zht"},
      {"page_size", "7"},
      {kServiceBaseUrlKey, "https://kavi.example"}};
  EXPECT_EQ(outcome.changed, changed);
  EXPECT_EQ(outcome.record.engine.page_size, 7);

  // A bad endpoint refuses the whole change, the pair's part too.
  change.endpoints = {{kServiceBaseUrlKey, "http://plain.example"}};
  outcome = store.Apply(change);
  EXPECT_EQ(outcome.status, ApplyOutcome::Status::kRefused);
  ConfigRecord record;
  std::string message;
  ASSERT_TRUE(store.Load(&record, &message));
  EXPECT_EQ(record.engine.charset, "zht");
  EXPECT_EQ(record.engine.config_version, 1u);
  EXPECT_EQ(store.Set("no_such_key", "1").status, ApplyOutcome::Status::kRefused);
}

TEST(WindowPagesTest, EveryKeyHasOneRowAndEveryRowAKey) {
  std::multiset<std::string> shown;
  for (const WindowPageInfo& info : WindowPages()) {
    for (const PageSection& section : PageSections(info.page)) {
      for (const SettingRow& row : section.rows) {
        shown.insert(std::string(row.key));
        const SettingKey* key = FindSettingKey(row.key);
        EXPECT_TRUE(key != nullptr || row.key == kServiceBaseUrlKey ||
                    row.key == kCompanionBaseUrlKey || row.key == kExtraCaBundleKey ||
                    row.key == kFuzzyKey)
            << row.key;
        EXPECT_FALSE(row.title.empty()) << row.key;
        if (key && (row.inverted || !row.true_label.empty())) {
          EXPECT_EQ(key->type, SettingType::kSwitch) << row.key;
        }
      }
    }
  }
  for (const SettingKey& key : SettingKeys()) {
    EXPECT_EQ(shown.count(std::string(key.name)), key.type == SettingType::kReadOnly ? 0u : 1u)
        << key.name;
  }
}

TEST(WindowPagesTest, ChoiceListsShowEveryValueWithWordsOfItsOwn) {
  for (const SettingKey& key : SettingKeys()) {
    if (key.type != SettingType::kChoice) continue;
    SCOPED_TRACE(std::string(key.name));
    const std::vector<ChoiceItem> items = ChoiceItems(key);
    ASSERT_EQ(items.size(), key.choices().size());
    std::set<std::string> labels;
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].value, key.choices()[i]);
      labels.insert(items[i].label);
    }
    EXPECT_EQ(labels.size(), items.size()) << "two values read the same";
  }
  const std::vector<ChoiceItem> voice = ChoiceItems(*FindSettingKey("voice_output_language"));
  ASSERT_EQ(voice.size(), 33u);
  EXPECT_EQ(voice.front().label, "跟隨設定");
  EXPECT_EQ(voice.back().label, "עברית");
  const std::vector<ChoiceItem> translate = ChoiceItems(*FindSettingKey("translate_target_lang"));
  ASSERT_EQ(translate.size(), 32u);
  EXPECT_EQ(translate.front().label, "📖 詞典");
}

TEST(WindowPagesTest, PageSwitchesOpenThePageThatHoldsTheirKeys) {
  for (const WindowPageInfo& info : WindowPages()) EXPECT_EQ(WindowPageNamed(info.name), info.page);
  // The command line's own pages open the window page that shows their keys.
  for (const SettingsPage& page : SettingsPages()) {
    const std::optional<WindowPage> window_page = WindowPageNamed(page.name);
    ASSERT_TRUE(window_page) << page.name;
    bool holds_one = false;
    for (const SettingKey& key : SettingKeys()) {
      const std::optional<RowPlace> place = FindRow(key.name);
      holds_one |= key.page == page.name && place && place->page == *window_page;
    }
    EXPECT_TRUE(holds_one) << page.name;
  }
  EXPECT_EQ(WindowPageNamed("sound"), WindowPage::kInput);
  EXPECT_EQ(WindowPageNamed("nowhere"), std::nullopt);
  EXPECT_EQ(WindowPageNamed(""), std::nullopt);
}

TEST(LaunchPlanTest, SwitchesDecideBetweenTheCommandLineTheWindowAndThePopup) {
  using Mode = LaunchPlan::Mode;
  struct Case {
    std::vector<std::string> args;
    Mode mode;
    WindowPage page;
    std::string focus;
  };
  const std::vector<Case> cases = {
      {{}, Mode::kWindow, WindowPage::kInput, ""},
      {{"--page=voice"}, Mode::kWindow, WindowPage::kVoice, ""},
      {{"--page=account"}, Mode::kWindow, WindowPage::kAccount, ""},
      {{"--page=about"}, Mode::kWindow, WindowPage::kAbout, ""},
      {{"--page=sound"}, Mode::kWindow, WindowPage::kInput, ""},
      {{"--page=network"}, Mode::kWindow, WindowPage::kNetwork, ""},
      {{"--key=inline_preedit"}, Mode::kWindow, WindowPage::kInput, "inline_preedit"},
      {{"--key=service_base_url"}, Mode::kWindow, WindowPage::kNetwork, "service_base_url"},
      {{"--translate-popup=640,-20"}, Mode::kTranslatePopup, WindowPage::kInput, ""},
      // Everything else is the command line's, which also reports what is wrong.
      {{"--toggle-traditional"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--toggle-melt-eng"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--toggle-key-sound"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--set-voice-lang=jp"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--page=voice", "--set", "page_size=7"}, Mode::kCommandLine, WindowPage::kVoice, ""},
      {{"--list"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--get", "page_size"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--help"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--page=nowhere"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--key=config_version"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--translate-popup=12"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--translate-popup=1,2", "--page=voice"}, Mode::kCommandLine, WindowPage::kInput, ""},
      {{"--bogus"}, Mode::kCommandLine, WindowPage::kInput, ""},
  };
  for (const Case& c : cases) {
    std::string text;
    for (const std::string& arg : c.args) text += arg + " ";
    SCOPED_TRACE(text);
    const LaunchPlan plan = PlanLaunch(c.args, "/default");
    EXPECT_EQ(plan.mode, c.mode);
    if (c.mode == Mode::kCommandLine) continue;
    EXPECT_EQ(plan.page, c.page);
    EXPECT_EQ(plan.focus_key, c.focus);
    EXPECT_EQ(plan.config_directory, "/default");
    EXPECT_FALSE(plan.config_directory_given);
  }
  const LaunchPlan popup = PlanLaunch({"--config-dir", "/mine", "--translate-popup=-3,40"}, "/d");
  EXPECT_EQ(popup.mode, Mode::kTranslatePopup);
  EXPECT_EQ(popup.x, -3);
  EXPECT_EQ(popup.y, 40);
  EXPECT_EQ(popup.config_directory, "/mine");
  EXPECT_TRUE(popup.config_directory_given);
  EXPECT_EQ(PlanLaunch({"--config-dir=/x", "--page=about"}, "/d").config_directory, "/x");
}

}  // namespace
}  // namespace kavi::win
