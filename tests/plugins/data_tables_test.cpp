// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>

#include "plugins/component_table.h"
#include "plugins/emoji_table.h"
#include "plugins/plugin_engine.h"
#include "plugins/symbol_table.h"
#include "plugins/text_util.h"
#include "tests/plugins/test_support.h"

namespace kavi::win {
namespace {

using namespace ::kavi::win::testing;

TEST(EmojiTable, ExactThenPrefixThenFuzzyByKeywordLengthInFileOrder) {
  EmojiTable table;
  ASSERT_TRUE(table.Parse("jolly_eyes\tE1\njoystick\tE2\njoy\tE3\njoyous\tE4\njoy\tE5\n"));
  PluginPage page = table.Search("joy");
  EXPECT_EQ(Texts(page.items), (Strings{"E3", "E5", "E4", "E2", "E1"}));
  EXPECT_EQ(Comments(page.items), (Strings{":joy", ":joy", "joyous", "joystick", "jolly_eyes"}));
  for (const PluginItem& item : page.items) EXPECT_EQ(item.kind, Kind(PluginItemKind::Commit));
  EXPECT_FALSE(page.digits_as_input || page.two_factor_page || page.auto_action);

  ASSERT_TRUE(table.Parse("zab\tA\nazb\tB\nzzb\tC\nbzz\tD\nab\tE\n"));
  // "ab": exact E; fuzzy zab, azb in file order (both length 3); zzb and bzz do not hold a, b.
  EXPECT_EQ(Texts(table.Search("ab").items), (Strings{"E", "A", "B"}));
  EXPECT_EQ(Texts(table.Search("b").items), (Strings{"D"}));  // one byte: prefix only

  // Twenty items besides the exact matches; two-digit keywords after the one-digit ones.
  std::string text;
  for (int i = 0; i < 30; ++i) text += "cat" + std::to_string(i) + "\tP" + std::to_string(i) + "\n";
  for (int i = 0; i < 3; ++i) text += "cat\tX" + std::to_string(i) + "\n";
  ASSERT_TRUE(table.Parse(text));
  page = table.Search("cat");
  ASSERT_EQ(page.items.size(), 20u);
  EXPECT_EQ(page.items[0].text, "X0");
  EXPECT_EQ(page.items[3].text, "P0");
  EXPECT_EQ(page.items[13].text, "P10");

  // Malformed lines are skipped; a file without a good line is refused.
  EXPECT_FALSE(table.Parse("# comment\n\nno tab\n\tempty keyword\nnothing after tab\t\n"));
  ASSERT_TRUE(table.Parse("# comment\nok\t\xF0\x9F\x91\x8C\nbad\n"));
  EXPECT_EQ(table.size(), 1u);
}

// The shipped file through the whole dispatch: English keywords, and Chinese ones by their
// pinyin (only ASCII reaches the plug-in page), exact matches first, prefixes finding the rest.
TEST(EmojiTable, ShippedFileFindsEnglishAndPinyinKeywordsExactMatchesFirst) {
  PluginEngine engine(ShippedPluginDir(), [](std::string_view line) { ADD_FAILURE() << line; });
  const auto texts = [&](const char* query) { return Texts(engine.Query(query, {}).items); };
  const std::pair<const char*, const char*> cases[] = {
      {"joy", "😂"}, {"xiao", "😄"},    {"aixin", "❤️"}, {"mao", "🐈"},
      {"zan", "👍"}, {"qingzhu", "🎉"}, {"kaixin", "😄"}};
  for (const auto& [query, emoji] : cases) {
    PluginPage page = engine.Query(query, PluginContext{});
    ASSERT_FALSE(page.items.empty()) << query;
    const std::string exact = std::string(":") + query;
    size_t exact_count = 0;
    while (exact_count < page.items.size() && page.items[exact_count].comment == exact) {
      ++exact_count;
    }
    for (size_t i = exact_count; i < page.items.size(); ++i) {
      EXPECT_NE(page.items[i].comment, exact) << query << ": exact matches come first";
    }
    Strings exact_texts = Texts(page.items);
    exact_texts.resize(exact_count);
    EXPECT_TRUE(Contains(exact_texts, emoji)) << query;
  }
  for (const auto& [query, emoji] : {std::pair{"joy", "😂"}, std::pair{"aixin", "❤️"},
                                     std::pair{"+1", "👍"}, std::pair{"thumbsu", "👍"}}) {
    EXPECT_EQ(texts(query).at(0), emoji) << query;
  }
  EXPECT_TRUE(Contains(texts("cat"), "🐈"));
  EXPECT_TRUE(Contains(texts("xiaoku"), "😂"));  // a prefix of a pinyin keyword
  // Only what can be typed is kept: no line of the file holds a non-ASCII keyword.
  for (std::string_view line : SplitLines(ReadShipped("emoji.txt"))) {
    if (line.empty() || line[0] == '#') continue;
    std::string_view keyword = line.substr(0, line.find('\t'));
    EXPECT_TRUE(std::all_of(keyword.begin(), keyword.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x80;
    })) << keyword;
  }
}

SymbolTable Symbols(std::string_view text) {
  SymbolTable table;
  EXPECT_TRUE(table.Parse(text));
  return table;
}

TEST(SymbolTable, CategoryListThenTheCategoryAndLongerCodes) {
  SymbolTable table = Symbols("dn\ta b c\nfh\t1 2 3 4\nzz\tq\nxq\t\nbg\tx  y\n");
  PluginPage page = table.Page("");
  EXPECT_EQ(Texts(page.items), (Strings{"符號 123…", "電腦 abc", "八卦 xy"}));
  EXPECT_EQ(Comments(page.items), (Strings{"fh", "dn", "bg"}));
  EXPECT_EQ(page.items[0].kind, Kind(PluginItemKind::OpenCategory));
  EXPECT_EQ(page.items[0].payload, "fh");

  // An argument lists its category, then the longer codes that start with it.
  table = Symbols("bg\t☰ ☱\nbgm\t1 2 3 4 5 6\nbgx\t1 2 3 4 5\nb\tq\nbg\t☲ ☳ ☴\n");
  page = table.Page("bg");  // the repeated bg line replaced the first
  EXPECT_EQ(Texts(page.items), (Strings{"☲", "☳", "☴", "12345…", "12345"}));
  EXPECT_EQ(Comments(page.items), (Strings{"bg", "bg", "bg", "bgm", "bgx"}));
  EXPECT_EQ(page.items[0].kind, Kind(PluginItemKind::Commit));
  EXPECT_EQ(page.items[3].kind, Kind(PluginItemKind::OpenCategory));
  EXPECT_EQ(page.items[3].payload, "bgm");
  EXPECT_EQ(Texts(table.Page("bgmx").items), Strings{});
  EXPECT_EQ(table.Page("b").items.size(), 4u);  // b's own symbol, then bg, bgm, bgx
}

TEST(SymbolTable, ShippedFileHasEveryCategoryInFull) {
  SymbolTable table = Symbols(ReadShipped("symbols.txt"));
  PluginPage page = table.Page("");
  ASSERT_EQ(page.items.size(), 30u);
  for (const PluginItem& item : page.items) {
    EXPECT_TRUE(item.text.ends_with("…")) << item.text;  // four or more symbols each
  }
  EXPECT_EQ(table.Page("bg").items.size(), 8u + 1u);     // eight trigrams, then bgm
  EXPECT_EQ(table.Page("lssg").items.size(), 64u + 1u);  // 64 hexagrams, then lssgm
  EXPECT_EQ(Texts(table.Page("sz").items), (Strings{"⚀", "⚁", "⚂", "⚃", "⚄", "⚅", "🎲"}));
}

TEST(ComponentTable, ExactCodeThenPrefixesInCodeOrder) {
  ComponentTable table;
  ASSERT_TRUE(table.Parse("好\tnv'zi\n妈\tnv'ma\n字\tzi\n姐\tnv\n怒\tnu'nv'xin\n"));
  EXPECT_EQ(table.Lookup("nv"), (Strings{"好", "妈", "姐", "怒"}));
  EXPECT_EQ(table.Lookup("zi"), (Strings{"好", "字"}));
  EXPECT_EQ(table.Lookup("nv'zi"), (Strings{"好"}));  // the whole code field names it too
  // No code "n": every code starting with it, in byte order: nu, nu'nv'xin, nv, nv'ma, nv'zi.
  EXPECT_EQ(table.Lookup("n"), (Strings{"怒", "怒", "好", "妈", "姐", "怒", "妈", "好"}));
  EXPECT_TRUE(table.Lookup("q").empty());
}

TEST(ComponentTable, PrefixSearchStopsAfterTheCodeThatReachesOneHundred) {
  std::string text;
  for (int code = 0; code < 5; ++code) {
    for (int i = 0; i < 40; ++i) text += "字\ta" + std::to_string(code) + "\n";
  }
  ComponentTable table;
  ASSERT_TRUE(table.Parse(text));
  EXPECT_EQ(table.Lookup("a").size(), 120u);  // 40 + 40 reach 80, the third code gives 120
  EXPECT_EQ(table.Lookup("a1").size(), 40u);
}

// "'" cannot be typed after `uu, so two component spellings are typed one after the other.
TEST(ComponentTable, TwoSpellingsTypedTogetherFindTheCharactersHoldingBoth) {
  ComponentTable table;
  ASSERT_TRUE(
      table.Parse("好\tnv'zi\n字\tzi'bao\n姐\tnv'qie\n妈\tnv'ma\n孖\tzi\n"
                  "嬷\tnv'ma'mo\n西\txi\n安\tan\n晏\tri'an\n"));
  EXPECT_EQ(table.Lookup("nvzi"), Strings{"好"});
  EXPECT_EQ(table.Lookup("zinv"), Strings{"好"});
  EXPECT_EQ(table.Lookup("nvz"), Strings{"好"});  // the second spelling still being typed
  EXPECT_EQ(table.Lookup("nvm"), (Strings{"妈", "嬷"}));
  EXPECT_EQ(table.Lookup("nvmamo"), Strings{});  // two spellings, not three
  EXPECT_EQ(table.Lookup("zibao"), Strings{"字"});
  // A code, or a code that starts with the argument, still comes first: "xian" is never
  // taken apart while something is spelt that way.
  ASSERT_TRUE(table.Parse("先\txian\n西\txi'an\n"));
  EXPECT_EQ(table.Lookup("xian"), Strings{"先"});
  EXPECT_EQ(table.Lookup("xia"), Strings{"先"});
}

// Characters are filed under every first-level component, not only their radical, and read
// with every Mandarin reading Unihan knows.
TEST(ComponentTable, ShippedTablesKnowEveryFirstLevelComponentAndEveryReading) {
  ComponentTable common;
  ASSERT_TRUE(common.Parse(ReadShipped("radical_pinyin.txt")));
  const Strings nv = common.Lookup("nv");
  EXPECT_GT(nv.size(), 100u);
  EXPECT_TRUE(Contains(nv, "好"));
  ComponentTable full;
  ASSERT_TRUE(full.Parse(ReadShipped("radical_pinyin_full.txt")));
  EXPECT_GT(full.Lookup("nv").size(), nv.size());
  const std::pair<const char*, const char*> holders[] = {
      {"yue", "明"}, {"ri", "明"},   {"zi", "好"},   {"xin", "想"}, {"xiang", "想"},
      {"ke", "河"},  {"she", "谢"},  {"ge", "我"},   {"huo", "照"}, {"ren", "你"},
      {"er", "你"},  {"shui", "河"}, {"riyue", "明"}};
  for (const auto& [argument, character] : holders)
    EXPECT_TRUE(Contains(common.Lookup(argument), character)) << argument << " " << character;
  EXPECT_EQ(common.Lookup("nvzi").front(), "好");

  PinyinLookup readings;
  ASSERT_TRUE(readings.Parse(ReadShipped("pinyin_lookup.txt")));
  EXPECT_EQ(readings.Reading("好"), "hǎo,hào");
  EXPECT_EQ(readings.Reading("x"), "");
  EXPECT_EQ(readings.Reading("长"), "zhǎng,cháng");
  EXPECT_EQ(readings.Reading("为"), "wèi,wéi");
  std::string_view walk = readings.Reading("行");
  EXPECT_TRUE(walk.starts_with("xíng,")) << walk;
  EXPECT_NE(walk.find("háng"), std::string_view::npos) << walk;

  // The whole command, as typed.
  PluginEngine engine(ShippedPluginDir(), [](std::string_view) {});
  PluginPage page = engine.Query("uunvzi", PluginContext{});
  ASSERT_FALSE(page.items.empty());
  EXPECT_EQ(page.items[0].text, "好");
  EXPECT_EQ(page.items[0].comment, "hǎo,hào");
}

}  // namespace
}  // namespace kavi::win
