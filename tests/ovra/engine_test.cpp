// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/ovra/engine_harness.h"

namespace kavi::win::testing {
namespace {

constexpr uint32_t kBackSpace = 0xFF08;
constexpr uint32_t kReturn = 0xFF0D;
constexpr uint32_t kEscape = 0xFF1B;
constexpr uint32_t kLeft = 0xFF51;
constexpr uint32_t kDown = 0xFF54;
constexpr uint32_t kPageDown = 0xFF56;
constexpr uint32_t kCapsLock = 0xFFE5;
constexpr uint32_t kControl = 0x4;
constexpr uint32_t kRelease = 0x40000000;

int IndexOf(const std::vector<std::string>& texts, const std::string& text) {
  auto it = std::find(texts.begin(), texts.end(), text);
  return it == texts.end() ? -1 : static_cast<int>(it - texts.begin());
}

// Moves to the page holding the candidate at global index and selects it there.
void SelectGlobal(int index, int page_size) {
  for (int page = 0; page < index / page_size; ++page) ASSERT_TRUE(kavi_change_page(false));
  ASSERT_TRUE(kavi_select_candidate(index % page_size));
}

TEST_F(EngineTest, PinyinConvertsWordsAndSentences) {
  Type("nihao");
  Page page = Context();
  ASSERT_FALSE(page.texts.empty());
  EXPECT_EQ(page.texts[0], "你好");
  EXPECT_EQ(page.preedit, "ni hao");
  EXPECT_EQ(page.cursor, 6);
  EXPECT_STREQ(kavi_get_input(), "nihao");
  EXPECT_STREQ(kavi_expand_input("nihao"), "nihao");
  EXPECT_FALSE(Take().present);

  EXPECT_TRUE(Key(' '));
  Commit commit = Take();
  EXPECT_EQ(commit.text, "你好");
  EXPECT_EQ(commit.input_code, "nihao");
  EXPECT_EQ(commit.alternative, "");
  EXPECT_EQ(kavi_get_input(), nullptr);
  EXPECT_TRUE(Context().texts.empty());

  Type("zhonghuarenmingongheguo");
  ASSERT_FALSE(Context().texts.empty());
  EXPECT_EQ(Context().texts[0], "中华人民共和国");
  EXPECT_TRUE(Key('1'));
  EXPECT_EQ(Take().text, "中华人民共和国");
}

TEST_F(EngineTest, AbbreviationsShowTheirFullSpellingAndExpand) {
  Type("nihao");
  EXPECT_EQ(Context().comments[0], "") << "a complete spelling needs no note";
  kavi_clear_composition();

  Type("zhg");
  Page page = Context();
  ASSERT_FALSE(page.texts.empty());
  std::string note = page.comments[0];
  ASSERT_FALSE(note.empty());
  EXPECT_EQ(note.front(), 'z');
  note.erase(std::remove(note.begin(), note.end(), ' '), note.end());
  EXPECT_STREQ(kavi_expand_input("zhg"), note.c_str());
  // Another input than the one composed is spelled out without disturbing the composition.
  const char* other = kavi_expand_input("nh");
  ASSERT_NE(other, nullptr);
  EXPECT_GT(std::string(other).size(), 2u);
  EXPECT_STREQ(kavi_get_input(), "zhg");
  EXPECT_EQ(Context().texts, page.texts);
  EXPECT_EQ(kavi_expand_input("123"), nullptr);
}

TEST_F(EngineTest, ACommitSpellsAsTheWordChosen) {
  Type("nh");
  std::vector<std::string> all = AllTexts();
  int chosen = IndexOf(all, "男孩");
  ASSERT_GT(chosen, 0);
  const std::string best_reading = kavi_expand_input("nh");
  SelectGlobal(chosen, 5);
  Commit commit = Take();
  EXPECT_EQ(commit.text, "男孩");
  EXPECT_EQ(commit.input_code, "nh");
  EXPECT_STREQ(kavi_expand_input(commit.input_code.c_str()), "nanhai");
  EXPECT_NE(best_reading, "nanhai");

  kavi_set_enable_melt_eng(true);
  Type("Hello");
  EXPECT_TRUE(Key(kReturn));
  EXPECT_STREQ(kavi_expand_input(Take().input_code.c_str()), "hello");
}

TEST_F(EngineTest, SelectingAWordKeepsTheRestComposing) {
  Type("nihaoma");
  std::vector<std::string> all = AllTexts();
  int word = IndexOf(all, "你好");
  ASSERT_GE(word, 0);
  SelectGlobal(word, 5);
  EXPECT_FALSE(Take().present);
  Page page = Context();
  EXPECT_EQ(page.preedit.rfind("你好", 0), 0u) << page.preedit;
  EXPECT_NE(page.preedit.find("ma"), std::string::npos) << page.preedit;
  EXPECT_STREQ(kavi_get_input(), "nihaoma");
  int ma = IndexOf(page.texts, "吗");
  ASSERT_GE(ma, 0);
  ASSERT_TRUE(kavi_select_candidate(ma));
  Commit commit = Take();
  EXPECT_EQ(commit.text, "你好吗");
  EXPECT_EQ(commit.input_code, "nihaoma");
}

TEST_F(EngineTest, AFailedSaveKeepsTheLastGoodCopy) {
  Type("shi");
  const std::string rare = AllTexts()[41];
  int index = IndexOf(AllTexts(), rare);
  SelectGlobal(index, 5);
  Take();
  kavi_sync_user_data();
  std::filesystem::path db = user_dir_ / "base_pinyin.userdb";
  const std::string saved_history = ReadFile(db / "user.history");
  ASSERT_FALSE(saved_history.empty());

  // The temporary file cannot be created: the save fails before touching the target.
  std::filesystem::create_directory(db / "user.history.tmp");
  Type("nihao");
  Key(' ');
  Take();
  kavi_sync_user_data();
  EXPECT_EQ(ReadFile(db / "user.history"), saved_history);
  kavi_finalize();
  std::filesystem::remove(db / "user.history.tmp");
  kavi_initialize();
  Type("shi");
  EXPECT_EQ(Context().texts[0], rare);
}

TEST_F(EngineTest, UnreadableUserDataIsSetAsideNotLost) {
  kavi_finalize();
  std::filesystem::path db = user_dir_ / "base_pinyin.userdb";
  std::filesystem::create_directories(db);
  std::ofstream(db / "user.history") << "not a history file at all";
  kavi_initialize();
  Type("nihao");
  EXPECT_EQ(Context().texts[0], "你好");
  EXPECT_TRUE(std::filesystem::exists(db / "user.history.bad"));
}

TEST_F(EngineTest, TraditionalCharsetConvertsCandidatesAndCommits) {
  kavi_set_charset("zht");
  Type("nimen");
  ASSERT_FALSE(Context().texts.empty());
  EXPECT_EQ(Context().texts[0], "你們");
  Key(' ');
  Commit commit = Take();
  EXPECT_EQ(commit.text, "你們");
  EXPECT_EQ(commit.alternative, "你们");

  char* simplified = kavi_convert_text("漢字與詞語", "t2s");
  ASSERT_NE(simplified, nullptr);
  EXPECT_STREQ(simplified, "汉字与词语");
  free(simplified);
  EXPECT_EQ(kavi_convert_text("漢字", "no-such-mode"), nullptr);
}

TEST_F(EngineTest, AsciiModePassesKeysThrough) {
  kavi_set_option("ascii_mode", true);
  EXPECT_TRUE(kavi_get_option("ascii_mode"));
  EXPECT_FALSE(Key('a'));
  EXPECT_FALSE(Key(','));
  EXPECT_FALSE(Take().present);
  EXPECT_EQ(kavi_get_input(), nullptr);
  kavi_set_option("ascii_mode", false);
  EXPECT_TRUE(Key('a'));
  EXPECT_STREQ(kavi_get_input(), "a");
}

TEST_F(EngineTest, CapsLockSwitchesModeOnlyWhenAskedTo) {
  EXPECT_FALSE(Key(kCapsLock));
  EXPECT_FALSE(kavi_get_option("ascii_mode"));
  kavi_set_good_old_caps_lock(false);
  Type("ni");
  EXPECT_TRUE(Key(kCapsLock));
  EXPECT_TRUE(kavi_get_option("ascii_mode"));
  EXPECT_EQ(Take().text, "ni") << "switching mid-word keeps what was typed";
  EXPECT_FALSE(Key('a'));
  EXPECT_TRUE(Key(kCapsLock));
  EXPECT_FALSE(kavi_get_option("ascii_mode"));
}

TEST_F(EngineTest, EditingKeys) {
  EXPECT_FALSE(Key(kBackSpace)) << "nothing to edit belongs to the application";
  EXPECT_FALSE(Key(kReturn));
  EXPECT_FALSE(Key(' '));
  EXPECT_FALSE(Key('a', kControl));
  Type("nihaoo");
  EXPECT_FALSE(Key('a', kRelease));
  EXPECT_TRUE(Key(kBackSpace));
  EXPECT_STREQ(kavi_get_input(), "nihao");
  EXPECT_TRUE(Key('x', kControl)) << "a shortcut mid-word is swallowed";
  EXPECT_STREQ(kavi_get_input(), "nihao");
  EXPECT_TRUE(Key(kLeft));
  EXPECT_EQ(Context().cursor, 5);
  EXPECT_TRUE(Key(kEscape));
  EXPECT_EQ(kavi_get_input(), nullptr);
  EXPECT_FALSE(Take().present);

  Type("hao");
  EXPECT_TRUE(Key(kReturn));
  Commit raw = Take();
  EXPECT_EQ(raw.text, "hao");
  EXPECT_EQ(raw.input_code, "hao");
}

TEST_F(EngineTest, HighlightAndPaging) {
  Type("shi");
  Page first = Context();
  ASSERT_EQ(first.texts.size(), 5u);
  EXPECT_EQ(first.page_number, 0);
  EXPECT_FALSE(first.last_page);
  EXPECT_GT(first.menu_count, 5);
  EXPECT_EQ(static_cast<int>(AllTexts().size()), std::min(first.menu_count, 100));
  EXPECT_EQ(AllTexts(3).size(), 3u);
  EXPECT_FALSE(kavi_change_page(true)) << "no page before the first";

  EXPECT_TRUE(Key('='));
  Page second = Context();
  EXPECT_EQ(second.page_number, 1);
  EXPECT_NE(second.texts, first.texts);
  EXPECT_TRUE(Key(kPageDown));
  EXPECT_EQ(Context().page_number, 2);
  EXPECT_TRUE(Key('-'));
  EXPECT_TRUE(Key(','));
  EXPECT_EQ(Context().texts, first.texts);

  EXPECT_TRUE(Key(kDown));
  EXPECT_TRUE(Key(kDown));
  EXPECT_EQ(Context().highlighted, 2);
  EXPECT_TRUE(kavi_highlight_candidate(4));
  EXPECT_FALSE(kavi_highlight_candidate(5));
  EXPECT_TRUE(Key(kDown)) << "moving past the page end turns the page";
  EXPECT_EQ(Context().page_number, 1);
  EXPECT_EQ(Context().highlighted, 0);
  EXPECT_TRUE(Key(' '));
  EXPECT_EQ(Take().text, second.texts[0]);

  kavi_set_page_size(9);
  Type("shi");
  Page nine = Context();
  ASSERT_EQ(nine.texts.size(), 9u);
  EXPECT_TRUE(Key('9'));
  EXPECT_EQ(Take().text, nine.texts[8]);
}

TEST_F(EngineTest, PagesOfUpToSixteenCandidates) {
  for (int size : {10, 11, 16}) {
    kavi_set_page_size(size);
    Key(kEscape);
    Type("shi");
    const std::vector<std::string> all = AllTexts();
    ASSERT_GT(all.size(), static_cast<size_t>(2 * size));
    Page first = Context();
    ASSERT_EQ(static_cast<int>(first.texts.size()), size) << size;
    EXPECT_EQ(first.texts, std::vector<std::string>(all.begin(), all.begin() + size));
    ASSERT_TRUE(Key(kPageDown));
    EXPECT_EQ(Context().texts.front(), all[static_cast<size_t>(size)]) << size;
    // Beyond the tenth there is no digit key: the last ones are reached by highlight or click.
    ASSERT_TRUE(kavi_change_page(true));
    ASSERT_TRUE(kavi_highlight_candidate(size - 1));
    EXPECT_TRUE(Key(' '));
    EXPECT_EQ(Take().text, all[static_cast<size_t>(size - 1)]) << size;
  }
  kavi_set_page_size(40);  // more than a page can show
  Key(kEscape);
  Type("shi");
  EXPECT_EQ(Context().texts.size(), 16u);
}

TEST_F(EngineTest, SelectingOffThePageReachesTheWholeList) {
  Type("shi");
  std::vector<std::string> all = AllTexts();
  ASSERT_TRUE(kavi_change_page(false));
  EXPECT_FALSE(kavi_select_candidate(-6)) << "before the first candidate";
  EXPECT_FALSE(kavi_select_candidate(Context().menu_count));
  EXPECT_TRUE(kavi_select_candidate(-3)) << "the expanded panel picks by list position";
  EXPECT_EQ(Take().text, all[2]);
}

TEST_F(EngineTest, LinearLayoutUsesLeftAndRightForTheHighlight) {
  kavi_set_linear(true);
  Type("shi");
  EXPECT_TRUE(Key(0xFF53));
  EXPECT_EQ(Context().highlighted, 1);
  EXPECT_EQ(Context().cursor, 3) << "the cursor stays";
  EXPECT_TRUE(Key(kDown));
  EXPECT_EQ(Context().page_number, 1);
}

TEST_F(EngineTest, MeltEnglishOffersTheLettersThemselves) {
  EXPECT_FALSE(Key('H')) << "Shift+letter goes to the application";
  Type("hello");
  EXPECT_EQ(IndexOf(AllTexts(), "hello"), -1);
  Page before = Context();
  EXPECT_TRUE(Key('W')) << "mid-word it ends the word";
  EXPECT_EQ(Take().text, before.texts[0] + "W");

  kavi_set_enable_melt_eng(true);
  Type("women");
  EXPECT_EQ(IndexOf(Context().texts, "women"), 4) << "letters that read as pinyin close the page";
  kavi_clear_composition();
  Type("hello");
  EXPECT_EQ(IndexOf(Context().texts, "hello"), 1) << "English that does not read as pinyin";
  kavi_clear_composition();

  Type("Hello");
  EXPECT_EQ(Context().texts[0], "Hello") << "a capital says the word is English";
  EXPECT_TRUE(Key(' '));
  EXPECT_EQ(Take().text, "Hello");
}

TEST_F(EngineTest, PunctuationAndFullShape) {
  EXPECT_TRUE(Key(','));
  EXPECT_EQ(Take().text, "，");
  EXPECT_TRUE(Key('"'));
  EXPECT_TRUE(Key('"'));
  EXPECT_EQ(Take().text, "“”");
  EXPECT_FALSE(Key('5'));
  EXPECT_FALSE(Key('+'));

  Type("nihao");
  EXPECT_TRUE(Key('!'));
  EXPECT_EQ(Take().text, "你好！");

  kavi_set_full_shape(true);
  EXPECT_TRUE(Key('5'));
  EXPECT_TRUE(Key('A'));
  EXPECT_TRUE(Key(' '));
  EXPECT_EQ(Take().text, "５Ａ　");
}

TEST_F(EngineTest, PredictionFollowsACommit) {
  kavi_set_enable_predict(true);
  Type("women");
  Key(' ');
  EXPECT_EQ(Take().text, "我们");
  Page page = Context();
  EXPECT_EQ(page.preedit, "");
  ASSERT_FALSE(page.texts.empty());
  EXPECT_TRUE(Key('1'));
  EXPECT_EQ(Take().text, page.texts[0]);
  EXPECT_TRUE(Key(kEscape));
  EXPECT_TRUE(Context().texts.empty());
  EXPECT_FALSE(Key(kEscape));
}

TEST_F(EngineTest, ExtensionBAddsRareCharacters) {
  Type("yi");
  int common = Context().menu_count;
  kavi_set_enable_ext_cjk(true);
  int extended = Context().menu_count;
  EXPECT_GT(extended, common);
  bool found_supplementary = false;
  kavi_clear_composition();
  Type("yi");
  for (int page = 0; page < 400 && !found_supplementary; ++page) {
    for (const std::string& text : Context().texts) {
      found_supplementary |= static_cast<unsigned char>(text[0]) == 0xF0;
    }
    if (!kavi_change_page(false)) break;
  }
  EXPECT_TRUE(found_supplementary) << "a character beyond the basic plane";
  kavi_set_enable_ext_cjk(false);
  kavi_clear_composition();
  Type("yi");
  EXPECT_EQ(Context().menu_count, common);
}

TEST_F(EngineTest, CloudHotWords) {
  const char* keys[] = {"nihao", "zhongguo"};
  const char* values[] = {"妳好", "中國"};
  ASSERT_TRUE(kavi_cloud_hot_replace(keys, values, 2));
  EXPECT_STREQ(kavi_cloud_hot_lookup("nihao"), "妳好");
  EXPECT_EQ(kavi_cloud_hot_lookup("women"), nullptr);

  const char* bad_keys[] = {"ni hao"};
  const char* bad_values[] = {"x"};
  EXPECT_FALSE(kavi_cloud_hot_replace(bad_keys, bad_values, 1));
  EXPECT_STREQ(kavi_cloud_hot_lookup("zhongguo"), "中國") << "a rejected list changes nothing";

  kavi_cloud_hot_clear();
  EXPECT_EQ(kavi_cloud_hot_lookup("nihao"), nullptr);
}

TEST_F(EngineTest, CloudBigramsLiftTheFollowingWord) {
  Type("ni");
  Key(' ');
  EXPECT_EQ(Take().text, "你");
  Type("ma");
  std::vector<std::string> before = Context().texts;
  ASSERT_FALSE(before.empty());
  std::vector<std::string> all = AllTexts();
  ASSERT_GT(all.size(), 10u);
  const std::string follower = all[10];
  kavi_cloud_bigram_clear();
  kavi_cloud_bigram_add("你", follower.c_str(), 3.0);
  kavi_cloud_bigram_add("他", all[0].c_str(), 1.0);
  EXPECT_EQ(Context().texts, before) << "nothing changes before the rebuild";
  ASSERT_TRUE(kavi_cloud_bigram_rebuild());
  EXPECT_EQ(Context().texts[0], follower);

  kavi_cloud_bigram_clear();
  kavi_cloud_bigram_rebuild();
  EXPECT_EQ(Context().texts, before);
}

TEST_F(EngineTest, ShuangpinLayouts) {
  ASSERT_TRUE(kavi_select_schema("double_pinyin_ms"));
  Type("nihk");
  EXPECT_EQ(Context().texts[0], "你好");
  EXPECT_EQ(Context().preedit, "ni hao") << "the preedit spells shuangpin out";
  EXPECT_STREQ(kavi_expand_input("nihk"), "nihao");
  Key(' ');
  EXPECT_EQ(Take().text, "你好");

  ASSERT_TRUE(kavi_select_schema("double_pinyin_xiaohe"));
  Type("nihc");
  EXPECT_EQ(Context().texts[0], "你好");
}

TEST_F(EngineTest, TableSchemes) {
  ASSERT_TRUE(kavi_select_schema("wubi86"));
  Type("jghu");
  Commit sole = Take();
  EXPECT_EQ(sole.text, "是") << "a sole candidate of a full code commits at once";
  EXPECT_EQ(sole.input_code, "jghu");
  EXPECT_EQ(kavi_get_input(), nullptr);
  Type("wqiy");
  EXPECT_FALSE(Take().present) << "more candidates wait for a choice";
  EXPECT_EQ(Context().texts[0], "你");
  Type("w");
  EXPECT_EQ(Take().text, "你") << "a fifth key takes the first candidate and starts anew";
  EXPECT_STREQ(kavi_get_input(), "w");
  kavi_clear_composition();
  Type("wq");
  Page page = Context();
  ASSERT_FALSE(page.texts.empty());
  EXPECT_EQ(page.texts[0], "你");
  EXPECT_STREQ(kavi_expand_input("wq"), "wq");

  ASSERT_TRUE(kavi_select_schema("cangjie"));
  Type("onf");
  EXPECT_EQ(IndexOf(Context().texts, "你"), 0);
  Key(' ');
  Commit commit = Take();
  EXPECT_EQ(commit.text, "你");
  EXPECT_EQ(commit.input_code, "onf");
}

TEST_F(EngineTest, CustomPhrasesShowInEveryPinyinSchemeAsWritten) {
  std::ofstream(user_dir_ / "custom_phrases.txt")
      << "nihao\tB\t2\nnihao\tA\t2\nnihao\tlast\t999\nnihao\t后来\t1\nwq\tW\t1\n";
  kavi_reload_user_files();
  kavi_set_charset("zht");
  Type("nihao");
  std::vector<std::string> texts = AllTexts(100000);
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 4),
            (std::vector<std::string>{"后来", "B", "A", "你好"}))
      << "at their positions, in file order, and in the script they were written in";
  EXPECT_EQ(texts.back(), "last");
  EXPECT_TRUE(kavi_select_candidate(1));
  Commit commit = Take();
  EXPECT_EQ(commit.text, "B");
  EXPECT_EQ(commit.input_code, "nihao");

  ASSERT_TRUE(kavi_select_schema("double_pinyin_ms"));
  Type("wq");
  EXPECT_EQ(Context().texts.at(0), "W");
  kavi_clear_composition();
  ASSERT_TRUE(kavi_select_schema("wubi86"));
  Type("wq");
  EXPECT_EQ(IndexOf(AllTexts(), "W"), -1) << "codes of tables are not pinyin";
  kavi_clear_composition();

  ASSERT_TRUE(kavi_select_schema("base_pinyin"));
  Type("wq");
  EXPECT_EQ(Context().texts.at(0), "W");
  std::filesystem::remove(user_dir_ / "custom_phrases.txt");
  kavi_reload_user_files();
  EXPECT_EQ(IndexOf(Context().texts, "W"), -1) << "the open composition follows the file";
}

TEST_F(EngineTest, ActiveSchemesLimitTheChoice) {
  kavi_set_active_schemas("base_pinyin, wubi86");
  EXPECT_FALSE(kavi_select_schema("cangjie"));
  EXPECT_TRUE(kavi_select_schema("wubi86"));
  EXPECT_FALSE(kavi_select_schema("no_such_scheme"));
  kavi_set_active_schemas("");
  EXPECT_FALSE(kavi_select_schema("no_such_scheme"));
  Type("wq");
  EXPECT_EQ(Context().texts[0], "你") << "a failed switch keeps the scheme";
}

TEST_F(EngineTest, SurvivesUseBeforeInitializeAndAfterFinalize) {
  kavi_finalize();
  EXPECT_FALSE(Key('a'));
  KaviContext context{};
  EXPECT_FALSE(kavi_get_context(&context));
  EXPECT_EQ(kavi_get_input(), nullptr);
  EXPECT_FALSE(kavi_select_candidate(0));
  kavi_sync_user_data();
  kavi_initialize();
  Type("ni");
  EXPECT_FALSE(Context().texts.empty());
}

}  // namespace
}  // namespace kavi::win::testing
