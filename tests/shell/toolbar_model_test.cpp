// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <fstream>

#include "config/language_tables.h"
#include "platform/file_replace.h"
#include "shell/toolbar_actions.h"
#include "shell/toolbar_flags.h"
#include "shell/toolbar_layout.h"
#include "shell/toolbar_palette.h"
#include "shell/toolbar_pointer.h"
#include "shell/tray_menu_model.h"
#include "tests/common/file_faults.h"
#include "tests/common/temp_dir.h"
#include "tests/shell/shell_test_support.h"

namespace kavi::win {
namespace {

using testing::TempDir;

TEST(ToolbarLayout, HitTestFollowsEachShapesButtons) {
  using B = ToolbarButton;
  using S = ToolbarShape;
  const struct {
    S shape;
    int x, y;
    B expected;
  } cases[] = {
      {S::kStandard, 10, 15, B::kNoButton},  // the grip
      {S::kStandard, 28, 4, B::kInputMode},      {S::kStandard, 49, 27, B::kInputMode},
      {S::kStandard, 50, 15, B::kNoButton},      {S::kStandard, 54, 15, B::kScript},
      {S::kStandard, 80, 15, B::kTranslate},     {S::kStandard, 127, 15, B::kMicrophone},
      {S::kStandard, 153, 15, B::kSettings},     {S::kStandard, 154, 15, B::kNoButton},
      {S::kStandard, 40, 3, B::kNoButton},       {S::kStandard, 40, 28, B::kNoButton},
      {S::kMiniCollapsed, 1, 4, B::kScript},     {S::kMiniCollapsed, 23, 27, B::kScript},
      {S::kMiniCollapsed, 30, 15, B::kNoButton}, {S::kMiniExpanded, 24, 15, B::kTranslate},
      {S::kMiniExpanded, 45, 15, B::kTranslate}, {S::kMiniExpanded, 46, 15, B::kMicrophone},
      {S::kMiniExpanded, 89, 15, B::kSettings},  {S::kMiniExpanded, 0, 15, B::kNoButton},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HitTestToolbar(c.shape, c.x, c.y), c.expected)
        << static_cast<int>(c.shape) << " at " << c.x << "," << c.y;
  EXPECT_EQ(ToolbarSize(S::kStandard), (ToolbarRect{0, 0, 160, 36}));
  EXPECT_LT(ToolbarSize(S::kMiniCollapsed).width, ToolbarSize(S::kMiniExpanded).width);
}

TEST(ToolbarLayout, ClampKeepsTheWindowFlushInsideTheWorkArea) {
  const ToolbarRect area{0, 0, 1920, 1040};
  EXPECT_EQ(ClampToWorkArea({-50, -9}, 160, 36, area), (ToolbarPoint{0, 0}));
  EXPECT_EQ(ClampToWorkArea({1900, 1030}, 160, 36, area), (ToolbarPoint{1760, 1004}));
  EXPECT_EQ(ClampToWorkArea({300, 400}, 160, 36, area), (ToolbarPoint{300, 400}));
  const ToolbarRect second{1920, 100, 1280, 900};
  EXPECT_EQ(ClampToWorkArea({1800, 50}, 160, 36, second), (ToolbarPoint{1920, 100}));
  const ToolbarPoint start = InitialToolbarOrigin(160, 36, area);
  EXPECT_EQ(ClampToWorkArea(start, 160, 36, area), start);
}

TEST(ToolbarPointer, SmallMovesClickAndDragsOfFourPixelsMoveWithoutClicking) {
  using B = ToolbarButton;
  ToolbarPointer p;
  p.Press(B::kScript, {500, 500}, {400, 480});
  EXPECT_FALSE(p.Move({503, 497}));
  EXPECT_EQ(p.Release(B::kScript), B::kScript) << "3 pixels still click";

  p.Press(B::kScript, {500, 500}, {400, 480});
  EXPECT_EQ(p.Move({500, 504}), (ToolbarPoint{400, 484})) << "4 pixels on one axis drag";
  EXPECT_EQ(p.Move({502, 501}), (ToolbarPoint{402, 481})) << "a drag keeps following";
  EXPECT_EQ(p.Release(B::kScript), B::kNoButton);

  p.Press(B::kScript, {500, 500}, {400, 480});
  EXPECT_EQ(p.Release(B::kTranslate), B::kNoButton) << "released over another button";
  EXPECT_FALSE(p.Move({600, 600})) << "no button held";
}

TEST(ToolbarPalette, FollowsTheThemeOrTheUsersColours) {
  TempDir dir;
  testing::WriteFile(dir.path() / "builtin" / "_.yaml", "themes: [plain, barred]\n");
  testing::WriteFile(dir.path() / "builtin" / "plain.yaml",
                     "preset_color_schemes:\n  plain:\n    back_color: 0x112233\n");
  testing::WriteFile(dir.path() / "builtin" / "barred.yaml",
                     "preset_color_schemes:\n  barred:\n"
                     "    status_bar_back_color: 0x0000FF\n"
                     "    status_bar_back_color_dark: 0x000080\n"
                     "    status_bar_text_color: 0x00FF00\n");
  ToolbarPaletteSettings settings;
  settings.builtin_themes_dir = dir.path() / "builtin";
  settings.theme = "plain";
  settings.corner_radius = 44;
  ToolbarPalette light = ResolveToolbarPalette(settings, false);
  ToolbarPalette expected = DefaultToolbarPalette(false);
  expected.corner_radius = 20;
  EXPECT_EQ(light, expected) << "a theme without status-bar colours keeps the built-in palette";
  EXPECT_NE(ResolveToolbarPalette(settings, true).background, light.background);

  settings.theme = "barred";
  light = ResolveToolbarPalette(settings, false);
  EXPECT_EQ(light.background, (StyleColor{1, 0, 0, 1})) << "0xBBGGRR: 0x0000FF is red";
  EXPECT_EQ(light.text, (StyleColor{0, 1, 0, 1}));
  EXPECT_EQ(light.border, expected.border);
  EXPECT_FLOAT_EQ(ResolveToolbarPalette(settings, true).background.r, 128 / 255.0f);

  settings.follow_theme = false;
  settings.back_color = "0xFF0000";
  settings.text_color = "red";
  settings.corner_radius = -3;
  light = ResolveToolbarPalette(settings, false);
  EXPECT_EQ(light.background, (StyleColor{0, 0, 1, 1}));
  EXPECT_EQ(light.text, expected.text) << "an unreadable colour keeps the built-in one";
  EXPECT_EQ(light.corner_radius, 0);
}

TEST(ToolbarFlags, MissingReadsZeroWritesAreVerifiedAndKeepOtherValues) {
  TempDir dir;
  ToolbarFlags flags(dir.path());
  EXPECT_EQ(flags.Read(kMiniToolbarValue), 0u);
  testing::WriteFile(flags.path(), "{\"Other\": \"kept\", \"ToolbarHidden\": -1}");
  EXPECT_EQ(flags.Read(kToolbarHiddenValue), 0u) << "a value that is not a DWORD reads as 0";
  ASSERT_TRUE(flags.Write(kMiniToolbarValue, 1));
  EXPECT_EQ(flags.Read(kMiniToolbarValue), 1u);
  EXPECT_NE(testing::ReadFile(flags.path()).find("\"Other\":\"kept\""), std::string::npos);

  for (AtomicWriteStep step : {AtomicWriteStep::kCreate, AtomicWriteStep::kWrite,
                               AtomicWriteStep::kFlush, AtomicWriteStep::kRename}) {
    testing::FaultSeam seam(step, testing::FaultSeam::Action::kFail);
    ScopedFileSystemSeam faults(&seam);
    testing::CapturedLog log;
    EXPECT_FALSE(flags.Write(kMiniToolbarValue, 0));
    EXPECT_NE(log.Text().find("[Kavi] 無法保存工具欄形態"), std::string::npos);
    EXPECT_EQ(flags.Read(kMiniToolbarValue), 1u) << "a failed write keeps the old value";
  }
  testing::WriteFile(flags.path(), "not json");
  EXPECT_EQ(flags.Read(kMiniToolbarValue), 0u);
}

TEST(TrayMenuModel, ItemsIdsAndLabelsFollowTheState) {
  TrayMenuState state;
  state.version = "0.5.1";
  state.voice_output_language = "jp";
  std::vector<TrayMenuItem> menu = BuildTrayMenu(state);
  std::vector<std::pair<int, std::string>> top;
  for (const TrayMenuItem& item : menu) top.emplace_back(item.id, item.label);
  const std::vector<std::pair<int, std::string>> expected = {{29184, "⚙ 霜楓設定"},
                                                             {29185, "🌐 翻譯"},
                                                             {29186, "登入 GateKite"},
                                                             {0, ""},
                                                             {29187, "切換至正體"},
                                                             {29188, "開始錄音"},
                                                             {0, "🎤 語音輸出語言"},
                                                             {0, ""},
                                                             {29190, "關閉英文混輸"},
                                                             {29191, "開啟按鍵音"},
                                                             {0, ""},
                                                             {29192, "隱藏懸浮條"},
                                                             {29193, "切換迷你工具欄"},
                                                             {0, ""},
                                                             {29194, "ℹ️ 關於霜楓 v0.5.1"},
                                                             {29195, "退出輸入服務"}};
  EXPECT_EQ(top, expected);
  const std::vector<TrayMenuItem>& voice = menu[6].children;
  ASSERT_EQ(voice.size(), 35u);
  EXPECT_EQ(voice[0].id, 28928);
  EXPECT_EQ(voice[0].label, "跟隨設定");
  EXPECT_TRUE(voice[6].checked) << "jp is the seventh language";
  EXPECT_EQ(std::count_if(voice.begin(), voice.end(), [](auto& i) { return i.checked; }), 1);
  EXPECT_EQ(voice[32].label, "עברית");
  EXPECT_EQ(voice[33].kind, TrayMenuItem::Kind::kSeparator);
  EXPECT_EQ(voice[34].id, 29189);

  state = {true, true, "alice@example", "follow", false, true, true, "9.9"};
  menu = BuildTrayMenu(state);
  EXPECT_EQ(menu[2].label, "alice@example");
  EXPECT_EQ(menu[4].label, "切換至簡體");
  EXPECT_EQ(menu[5].label, "停止錄音");
  EXPECT_EQ(menu[8].label, "開啟英文混輸");
  EXPECT_EQ(menu[9].label, "關閉按鍵音");
  EXPECT_EQ(menu[12].label, "展開標準工具欄");
}

// The actions start the settings program with the right switch; a stand-in program records
// its arguments.
TEST(ToolbarActions, EachActionStartsTheSettingsProgramWithItsSwitch) {
  TempDir dir;
  const std::filesystem::path record = dir.path() / "args";
  const std::filesystem::path program = testing::WriteArgumentRecorder(dir.path(), record);
  const ToolbarActions actions = MakeToolbarActions(SettingsLauncher(program), {});
  const struct {
    int id;
    const char* args;
  } cases[] = {
      {29184, ""},
      {29185, "--translate-popup=12,34"},
      {29186, "--page=account"},
      {29187, "--toggle-traditional"},
      {29190, "--toggle-melt-eng"},
      {29191, "--toggle-key-sound"},
      {29194, "--page=about"},
      {29189, "--page=voice"},
      {kVoiceLanguageMenuBase + 5, "--set-voice-lang=en"},
      {kVoiceLanguageMenuBase + 32, "--set-voice-lang=il"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(record);
    EXPECT_EQ(RunTrayMenuCommand(c.id, actions, 12, 34), TrayMenuEffect::kRan) << c.id;
    EXPECT_TRUE(testing::WaitForFile(record)) << c.id;
    EXPECT_EQ(testing::ReadFile(record), std::string(c.args) + "\n") << c.id;
  }
  std::filesystem::remove(record);
  actions.voice_output_language(33);
  actions.voice_output_language(-1);
  actions.toggle_recording ? actions.toggle_recording() : void();
  EXPECT_EQ(RunTrayMenuCommand(kVoiceLanguageMenuBase + 33, actions, 0, 0), TrayMenuEffect::kNone);
  EXPECT_EQ(RunTrayMenuCommand(29192, actions, 0, 0), TrayMenuEffect::kHideToolbar);
  EXPECT_EQ(RunTrayMenuCommand(29193, actions, 0, 0), TrayMenuEffect::kToggleMini);
  EXPECT_EQ(RunTrayMenuCommand(29195, actions, 0, 0), TrayMenuEffect::kExit);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(std::filesystem::exists(record)) << "an index outside 0 to 32 starts nothing";

  testing::CapturedLog log;
  EXPECT_FALSE(SettingsLauncher(dir.path() / "missing").Launch("--page=about"));
  EXPECT_NE(log.Text().find("[Kavi] 工具欄無法啟動設定命令"), std::string::npos);
}

}  // namespace
}  // namespace kavi::win
