// SPDX-License-Identifier: Apache-2.0
// The files the engine reads beside the schemes: the user's custom phrases and pinyin options,
// and the English word list.
#include <gtest/gtest.h>

#include <fstream>

#include "ovra/custom_phrases.h"
#include "ovra/english_words.h"
#include "ovra/pinyin_options.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::testing {
namespace {

TEST(CustomPhrases, KeepsEveryGoodLineAndNamesEachBadOne) {
  const std::string long_text(CustomPhrases::kMaxTextBytes + 1, 'x');
  std::vector<CustomPhraseProblem> problems;
  const CustomPhrases phrases = CustomPhrases::Parse(
      "\xEF\xBB\xBF"
      "dz\tsecond\t2\n"                // 1
      "# a comment\n"                  // 2
      "\n"                             // 3
      "dz\tfirst\t1\r\n"               // 4
      "dz\talso second\t 2 \n"         // 5: after line 1 in file order
      "dz\tline\\none\\ttab\\\\\t9\n"  // 6
      "dz\tmid\ttab\t3\n"              // 7: only the first and last tabs separate
      "dz\tno position\n"              // 8
      "DZ\tupper code\t1\n"            // 9
      "dz\tzero\t0\n"                  // 10
      "dz\tnumber\t1x\n"               // 11
      "dz\t\t1\n"                      // 12
      "dz\t\xFF\t1\n"                  // 13
      "dz\tbell\a\t1\n"                // 14
      "dz\t" +
          long_text +
          "\t1\n"               // 15
          "sig\t--\\n张三\t1",  // 16, no final line feed
      &problems);

  std::vector<std::string> texts;
  for (const CustomPhrase& phrase : phrases.Find("dz")) texts.push_back(phrase.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"first", "second", "also second", "mid\ttab",
                                             "line\none\ttab\\"}));
  ASSERT_EQ(phrases.Find("sig").size(), 1u);
  EXPECT_EQ(phrases.Find("sig")[0].text, "--\n张三");
  EXPECT_TRUE(phrases.Find("d").empty());
  EXPECT_TRUE(phrases.Find("dzz").empty());

  std::vector<size_t> lines;
  for (const CustomPhraseProblem& problem : problems) lines.push_back(problem.line);
  EXPECT_EQ(lines, (std::vector<size_t>{8, 9, 10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(problems[0].reason, "needs a code, a text and a position separated by tabs");
}

TEST(UserPinyinOptions, TakesTheKnownFuzzySoundsAndWritesThemBack) {
  UserPinyinOptions options;
  std::vector<std::string> problems;
  std::string message;
  ASSERT_TRUE(ParseUserPinyinOptions("pinyin:\n  fuzzy: [zh_z, z_zh, an_ang, zh_z, inner]\n",
                                     &options, &problems, &message));
  EXPECT_EQ(options.fuzzy, (std::vector<std::string>{"zh_z", "an_ang"}));
  EXPECT_EQ(problems.size(), 2u) << "z_zh and inner are not fuzzy sounds";

  UserPinyinOptions again;
  ASSERT_TRUE(ParseUserPinyinOptions(UserPinyinOptionsText(options), &again, &problems, &message));
  EXPECT_EQ(again, options);
  EXPECT_TRUE(problems.empty());

  for (const char* text : {"", "# nothing yet\n", "pinyin:\n", "other: 1\n"}) {
    EXPECT_TRUE(ParseUserPinyinOptions(text, &again, &problems, &message)) << text;
    EXPECT_TRUE(again.fuzzy.empty()) << text;
  }
  for (const char* text : {"pinyin: [unclosed", "- a list", "pinyin: 3", "pinyin: {fuzzy: zh_z}"}) {
    again = options;
    EXPECT_FALSE(ParseUserPinyinOptions(text, &again, &problems, &message)) << text;
    EXPECT_FALSE(message.empty()) << text;
    EXPECT_EQ(again, options) << "a file that is not one changes nothing";
  }
}

TEST(EnglishWords, RunsOfListedWordsWithAVowelAndThreeLettersOrMore) {
  TempDir dir;
  std::ofstream(dir.path() / "words") << "hello\nWorld\nhen\nsh\nbpm\nbpms\ncan't\nzoë\n";
  EnglishWords words;
  std::string message;
  ASSERT_TRUE(words.Load(dir.path() / "words", &message)) << message;
  EXPECT_EQ(words.size(), 5u);
  const std::pair<const char*, bool> cases[] = {
      {"hello", true}, {"helloworld", true}, {"worldhenhello", true},
      {"world", true}, {"hell", false},      {"helloworl", false},
      {"sh", false},   {"hellosh", false},   {"bpm", false},
      {"cant", false}, {"", false},
  };
  for (auto [letters, english] : cases) EXPECT_EQ(words.IsWordRun(letters), english) << letters;
  EXPECT_FALSE(words.Load(dir.path() / "missing", &message));
  EXPECT_FALSE(message.empty());
}

}  // namespace
}  // namespace kavi::win::testing
