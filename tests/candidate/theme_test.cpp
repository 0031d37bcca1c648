// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "candidate/pango_text.h"
#include "candidate/theme_resolution.h"
#include "config/themes/catalog_listing.h"
#include "config/themes/theme_color.h"
#include "config/themes/theme_loader.h"
#include "platform/window/desktop_theme.h"
#include "tests/common/temp_dir.h"

namespace kavi::win {
namespace {

using testing::TempDir;

const std::filesystem::path kShippedThemes = std::filesystem::path(KAVI_SOURCE_DIR) / "data/themes";

std::string ThemeYaml(const std::string& id, const std::string& body) {
  return "preset_color_schemes:\n  " + id + ":\n" + body;
}

StyleColor Bgr(unsigned bgr) {
  return StyleColor{(bgr & 0xFF) / 255.0f, ((bgr >> 8) & 0xFF) / 255.0f,
                    ((bgr >> 16) & 0xFF) / 255.0f, 1.0f};
}

TEST(ThemeColorTest, ReadsBothFormsAndRejectsTheRest) {
  StyleColor c;
  ASSERT_TRUE(ParseThemeColor("0xFF0000", &c));
  EXPECT_EQ(c, (StyleColor{0, 0, 1, 1}));  // blue lives in the high byte
  ASSERT_TRUE(ParseThemeColor("0x80ff0000", &c));
  EXPECT_EQ(c, (StyleColor{0, 0, 1, 128 / 255.0f}));
  ASSERT_TRUE(ParseThemeColor("0x0000Ff", &c));
  EXPECT_EQ(c, (StyleColor{1, 0, 0, 1}));

  const StyleColor before = c;
  for (const char* bad : {"0XFF0000", "0xFF0000F", "0xFF000", "FF000000", "0xGG0000", "", "0x",
                          "0x12345678901", " 0xFF0000", "0x-FF000"}) {
    EXPECT_FALSE(ParseThemeColor(bad, &c)) << bad;
    EXPECT_EQ(c, before) << bad;
  }
}

TEST(ThemeIdTest, LowerCaseDigitsAndUnderscoreOnly) {
  for (const std::string& good : {std::string("dark_2"), std::string(64, 'a')}) {
    EXPECT_TRUE(IsValidThemeId(good)) << good;
  }
  const std::string bad[] = {std::string(65, 'a'), "", "Dark", "a.b", "a-b", "a/b", "..", "主題"};
  for (const std::string& id : bad) EXPECT_FALSE(IsValidThemeId(id)) << id;
}

class ThemeFileTest : public ::testing::Test {
 protected:
  CandidateStyle Loaded(const std::string& body, bool dark = false) {
    dir_.Write("t.yaml", ThemeYaml("t", body));
    CandidateStyle style;
    std::string message = "stale";
    EXPECT_TRUE(LoadThemeFile(dir_.path(), "t", dark, &style, &message)) << message;
    EXPECT_EQ(message, "");
    return style;
  }
  TempDir dir_;
};

// Each colour from its key, from its dark variant in dark mode, or from the field it falls back to
// as that field stands at that point of the reading order; the base palette below them all.
TEST_F(ThemeFileTest, ColoursFromTheirKeysDarkVariantsAndFallbacks) {
  using S = CandidateStyle;
  const std::string none = "    {}\n";
  const std::string dark_keys =
      "    border_color: 0x010101\n    border_color_dark: nonsense\n"
      "    text_color_dark: [0x777777]\n    text_color: 0x888888\n";
  const std::string text = "    text_color: 0x123456\n";
  const std::string own =
      text + "    label_color: 0x0000FF\n    hilited_candidate_text_color: 0x00FF00\n";
  const std::string back = "    hilited_back_color: 0x00AA00\n    back_color: 0x0B0B0B\n";
  const std::string candidate_back = "    hilited_candidate_back_color: 0x00AA00\n";
  const StyleColor t = Bgr(0x123456);
  struct Case {
    const std::string& body;
    bool dark;
    StyleColor CandidateStyle::*field;
    StyleColor expected;
  } cases[] = {
      {none, false, &S::back_color, RgbColor(0xFAF9F6)},
      {none, true, &S::back_color, RgbColor(0x2D2D2D)},
      // The text colour, even over the candidate text's own base value.
      {none, true, &S::candidate_text_color, RgbColor(0xCCCCCC)},
      // An invalid scalar dark value hides the plain key; a dark value that is no scalar does not.
      {dark_keys, true, &S::border_color, RgbColor(0x555555)},
      {dark_keys, true, &S::text_color, Bgr(0x888888)},
      {text, false, &S::candidate_text_color, t},
      {text, false, &S::label_color, t},
      {text, false, &S::hilited_candidate_text_color, t},
      {own, false, &S::label_color, Bgr(0x0000FF)},
      {own, false, &S::comment_text_color, t},
      {own, false, &S::hilited_text_color, t},
      {own, false, &S::hilited_candidate_label_color, Bgr(0x00FF00)},
      {own, false, &S::hilited_comment_text_color, Bgr(0x00FF00)},
      {back, false, &S::hilited_candidate_back_color, Bgr(0x00AA00)},
      {back, false, &S::candidate_back_color, Bgr(0x0B0B0B)},
      // Read first, hilited_back_color falls back to the base highlight, not the theme's.
      {candidate_back, false, &S::hilited_back_color, RgbColor(0x007AFF)},
      {candidate_back, false, &S::hilited_candidate_back_color, Bgr(0x00AA00)},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(Loaded(c.body, c.dark).*c.field, c.expected) << "case " << i << ", dark " << c.dark;
  }
}

TEST_F(ThemeFileTest, NumbersAreClampedAndBadValuesIgnored) {
  CandidateStyle s = Loaded(
      "    font_point: 100\n"
      "    alpha: 2\n"
      "    base_offset: -50\n"
      "    corner_radius: 9\n"
      "    border_width: abc\n"
      "    line_spacing: .nan\n"
      "    spacing: .inf\n"
      "    paging_arrow_offset: -1000\n"
      "    surrounding_extra_expansion: 3.5\n"
      "    show_paging: false\n"
      "    translucency: maybe\n"
      "    mutual_exclusive: yes\n");
  EXPECT_EQ(s.font_point, 72);
  EXPECT_EQ(s.label_font_point, 72);
  EXPECT_EQ(s.comment_font_point, 72);
  EXPECT_EQ(s.alpha, 1);
  EXPECT_EQ(s.base_offset, -32);
  EXPECT_EQ(s.corner_radius, 9);
  EXPECT_EQ(s.hilited_corner_radius, 9);
  EXPECT_EQ(s.border_width, 6);
  EXPECT_EQ(s.line_spacing, 0);
  EXPECT_EQ(s.spacing, 0);
  EXPECT_EQ(s.paging_arrow_offset, -100);
  EXPECT_EQ(s.surrounding_extra_expansion, 3.5f);
  EXPECT_FALSE(s.show_paging);
  EXPECT_FALSE(s.translucency);
  EXPECT_TRUE(s.mutual_exclusive);

  s = Loaded("    label_font_point: 3\n    hilited_corner_radius: 2\n");
  EXPECT_EQ(s.label_font_point, 8);
  EXPECT_EQ(s.hilited_corner_radius, 2);
}

TEST_F(ThemeFileTest, StringsWithinTheirLimits) {
  CandidateStyle s = Loaded(
      "    name: \"晨霧\"\n    font_face: \"\"\n    label_font_face: " + std::string(129, 'f') +
      "\n    comment_font_face: [a]\n" + "    candidate_format: " + std::string(256, 'c') + "\n");
  EXPECT_EQ(s.display_name, "晨霧");
  EXPECT_EQ(s.font_face, "Microsoft JhengHei UI");
  EXPECT_EQ(s.label_font_face, "");
  EXPECT_EQ(s.comment_font_face, "");
  EXPECT_EQ(s.candidate_format, std::string(256, 'c'));
}

TEST_F(ThemeFileTest, FileFailuresLeaveTheStyleUntouched) {
  CandidateStyle style;
  style.theme_id = "keep";
  std::string message;
  auto expect_failure = [&](const std::string& bytes, const char* expected) {
    dir_.Write("t.yaml", bytes);
    EXPECT_FALSE(LoadThemeFile(dir_.path(), "t", false, &style, &message)) << expected;
    EXPECT_EQ(message, expected);
    EXPECT_EQ(style.theme_id, "keep");
  };
  expect_failure("", "invalid theme file size");
  expect_failure(ThemeYaml("t", "    name: x\n") + "# " + std::string(300 * 1024, 'x') + "\n",
                 "invalid theme file size");
  expect_failure("- a\n- b\n", "theme document must be a map");
  expect_failure("[unclosed", "invalid theme yaml");
  expect_failure("other: 1\n", "missing theme data");
  expect_failure(ThemeYaml("u", "    name: x\n"), "missing theme data");
  expect_failure("preset_color_schemes:\n  t: 5\n", "missing theme data");

  EXPECT_FALSE(LoadThemeFile(dir_.path(), "absent", false, &style, &message));
  EXPECT_EQ(message, "theme file not found");
  EXPECT_FALSE(LoadThemeFile(dir_.path(), "../t", false, &style, &message));
  EXPECT_EQ(message, "invalid theme id");

  // Exactly 256 KiB still loads.
  const std::string body = ThemeYaml("t", "    name: big\n");
  dir_.Write("t.yaml", body + "#" + std::string(kMaxThemeFileSize - body.size() - 1, 'x'));
  EXPECT_TRUE(LoadThemeFile(dir_.path(), "t", false, &style, &message)) << message;
}

TEST(ThemeCatalogTest, OrderAndRejections) {
  TempDir dir;
  std::vector<std::string> ids;
  std::string message;
  dir.Write("_.yaml", "themes: [zeta, alpha, mid_1]\n");
  ASSERT_TRUE(LoadThemeCatalog(dir.path(), &ids, &message));
  EXPECT_EQ(ids, (std::vector<std::string>{"zeta", "alpha", "mid_1"}));

  auto expect_failure = [&](const std::string& yaml, const char* expected) {
    dir.Write("_.yaml", yaml);
    EXPECT_FALSE(LoadThemeCatalog(dir.path(), &ids, &message)) << yaml;
    EXPECT_EQ(message, expected) << yaml;
  };
  expect_failure("themes: native\n", "invalid theme catalog");
  expect_failure("other: [a]\n", "invalid theme catalog");
  expect_failure("themes: [a, Bad]\n", "invalid theme id");
  expect_failure("themes: [a, [b]]\n", "invalid theme id");
  expect_failure("themes: [a, b, a]\n", "unsafe or duplicate theme id");
  EXPECT_FALSE(LoadThemeCatalog(dir.path(), nullptr, &message));
  EXPECT_EQ(message, "missing theme catalog output");
}

class ThemeDirectoriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    builtin_.Write("_.yaml", "themes: [native, sea]\n");
    builtin_.Write("native.yaml", ThemeYaml("native", "    name: builtin native\n"));
    builtin_.Write("sea.yaml", ThemeYaml("sea", "    name: builtin sea\n"));
    builtin_.Write("hidden.yaml", ThemeYaml("hidden", "    name: unlisted builtin\n"));
    user_.Write("native.yaml", ThemeYaml("native", "    name: user native\n"));
    user_.Write("mine.yaml", ThemeYaml("mine", "    name: 我的\n"));
    user_.Write("hidden.yaml", "[broken");
    user_.Write("broken.yaml", "[");
    user_.Write("Upper.yaml", ThemeYaml("Upper", "    name: x\n"));
    user_.Write("notes.txt", "not a theme");
    std::filesystem::create_directories(user_.path() / "dir.yaml");
  }
  TempDir builtin_;
  TempDir user_;
};

TEST_F(ThemeDirectoriesTest, ShippedIdsFromTheShippedFolderOthersFromTheUsersFirst) {
  struct Case {
    const char* id;
    bool loads;
    const char* name_or_message;
    const char* log;
  } cases[] = {
      {"native", true, "builtin native",
       "[Kavi] custom theme file 'native' collides with builtin id, ignoring custom copy and "
       "loading builtin instead\n"},
      {"mine", true, "我的", ""},
      {"hidden", true, "unlisted builtin", ""},  // the user's copy is broken
  };
  for (const Case& c : cases) {
    CandidateStyle style;
    std::string message;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LoadTheme(builtin_.path(), user_.path(), c.id, true, &style, &message), c.loads)
        << c.id;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.log) << c.id;
    EXPECT_EQ(c.loads ? style.display_name : message, c.name_or_message) << c.id;
  }
}

TEST_F(ThemeDirectoriesTest, ThemeListingBuiltinThenUserWithNames) {
  ::testing::internal::CaptureStderr();
  std::vector<CatalogEntry> entries = ListThemes(builtin_.path(), user_.path());
  const std::string log = ::testing::internal::GetCapturedStderr();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[0], (CatalogEntry{"native", "builtin native"}));
  EXPECT_EQ(entries[1], (CatalogEntry{"sea", "builtin sea"}));
  std::sort(entries.begin() + 2, entries.end(),
            [](const CatalogEntry& a, const CatalogEntry& b) { return a.id < b.id; });
  EXPECT_EQ(std::vector<CatalogEntry>(entries.begin() + 2, entries.end()),
            (std::vector<CatalogEntry>{
                {"broken", ""}, {"hidden", "unlisted builtin"}, {"mine", "我的"}}));
  EXPECT_NE(log.find("[Kavi] 自訂主題 'native' 與內建主題 id 相同，附加目錄時略過\n"),
            std::string::npos);
  EXPECT_EQ(ListThemes(builtin_.path(), user_.path() / "absent").size(), 2u);
}

// Found themes and the fallback to native: CandidateWindowTest and ThemeSampleTest.
TEST(ThemeResolutionTest, NothingLoadableGivesTheDefaultStyleAndSaysWhy) {
  TempDir empty;
  ::testing::internal::CaptureStderr();
  CandidateStyle style = ResolveCandidateStyle(empty.path(), "", "sea", false);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "[Kavi] 主題載入失敗：theme file not found\n");
  EXPECT_EQ(style.display_name, kDefaultThemeName);
}

TEST(SchemeListingTest, SourcesFromBuildDirectoryAndPackManager) {
  TempDir data;
  data.Write("schemas/pinyin.schema.yaml", "x");
  data.Write("schemas/build/pinyin.schema.yaml", "x");
  data.Write("schemas/cangjie.schema.yaml", "x");
  data.Write("schemas/wubi.schema.yaml", "x");
  data.Write("schemas/.schema.yaml", "x");
  data.Write("schemas/default.yaml", "x");
  std::filesystem::create_directories(data.path() / "schemas/dir.schema.yaml");
  std::vector<CatalogEntry> entries =
      ListSchemes(data.path(), [](const std::string& id) { return id == "cangjie"; });
  std::sort(entries.begin(), entries.end(),
            [](const CatalogEntry& a, const CatalogEntry& b) { return a.id < b.id; });
  EXPECT_EQ(entries, (std::vector<CatalogEntry>{
                         {"cangjie", "downloaded"}, {"pinyin", "builtin"}, {"wubi", "remote"}}));
  EXPECT_EQ(ListSchemes(data.path(), nullptr).size(), 3u);
  EXPECT_TRUE(ListSchemes(data.path() / "absent", nullptr).empty());
}

TEST(ShippedThemesTest, EveryCatalogThemeLoadsInBothModesWithInstalledFonts) {
  std::vector<std::string> ids;
  std::string message;
  ASSERT_TRUE(LoadThemeCatalog(kShippedThemes, &ids, &message)) << message;
  ASSERT_GE(ids.size(), 9u);
  EXPECT_EQ(ids.front(), "native");
  std::set<std::string> names;
  for (const std::string& id : ids) {
    CandidateStyle light;
    CandidateStyle dark;
    ASSERT_TRUE(LoadThemeFile(kShippedThemes, id, false, &light, &message)) << id << message;
    ASSERT_TRUE(LoadThemeFile(kShippedThemes, id, true, &dark, &message)) << id << message;
    names.insert(light.display_name);
    // Highlighted text must stand out from its background in both modes.
    for (const CandidateStyle* s : {&light, &dark}) {
      auto luminance = [](const StyleColor& c) {
        return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b;
      };
      EXPECT_GT(std::abs(luminance(s->hilited_candidate_text_color) -
                         luminance(s->hilited_candidate_back_color)),
                0.3)
          << id;
      EXPECT_GT(std::abs(luminance(s->candidate_text_color) - luminance(s->back_color)), 0.45)
          << id;
    }
    std::unique_ptr<PangoTextFormats> text = PangoTextFormats::Create(light, "zh-tw", &message);
    ASSERT_TRUE(text) << message;
    for (TextRole role : {TextRole::Candidate, TextRole::Label, TextRole::Comment}) {
      const std::string& face = role == TextRole::Candidate ? light.font_face
                                : role == TextRole::Label   ? light.LabelFontFace()
                                                            : light.CommentFontFace();
      EXPECT_EQ(text->Family(role).rfind(face, 0), 0u) << id << " names a missing font " << face;
    }
  }
  EXPECT_EQ(names.size(), ids.size());
}

// The desktop settings watch wakes for the file's folder appearing, going and coming back, and
// for the file; after each it falls quiet instead of waking itself forever.
TEST(DesktopSettingsWatchTest, TheFolderCreatedMovedAndBackWakesOnceEachAndThenFallsQuiet) {
  TempDir dir;
  const std::filesystem::path folder = dir.path() / "gtk-3.0";
  FileChangeWatch watch(folder / "settings.ini");
  ASSERT_GE(watch.Fd(), 0);
  auto readable = [&] {
    pollfd ready{watch.Fd(), POLLIN, 0};
    return ::poll(&ready, 1, 200) > 0;
  };
  // Drains until quiet; -1 when it never falls quiet (each drain wakes it again).
  auto changes_until_quiet = [&] {
    int changes = 0;
    for (int round = 0; round < 20; ++round) {
      if (!readable()) return changes;
      changes += watch.Drain() ? 1 : 0;
    }
    return -1;
  };

  std::filesystem::create_directory(folder);
  EXPECT_GE(changes_until_quiet(), 1);
  dir.Write("gtk-3.0/settings.ini", "[Settings]\ngtk-application-prefer-dark-theme=1\n");
  EXPECT_GE(changes_until_quiet(), 1);
  std::filesystem::rename(folder, dir.path() / "gtk-3.0.old");
  EXPECT_GE(changes_until_quiet(), 1);
  std::filesystem::rename(dir.path() / "gtk-3.0.old", folder);
  EXPECT_GE(changes_until_quiet(), 1);
  EXPECT_TRUE(ReadPreferDarkTheme(folder / "settings.ini"));
  EXPECT_EQ(changes_until_quiet(), 0);
}

}  // namespace
}  // namespace kavi::win
