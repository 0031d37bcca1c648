// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "plugins/chinese_numerals.h"
#include "plugins/code_point_command.h"
#include "plugins/date_time_command.h"
#include "tests/plugins/test_support.h"

namespace kavi::win {
namespace {

using namespace ::kavi::win::testing;

// The lower form drops the 一 of a leading ten, amounts keep it; one zero stands for a run of
// zeros between groups and digits.
TEST(ChineseNumerals, IntegersInTheNumberAndAmountForms) {
  const struct {
    const char* digits;
    NumeralTable table;
    bool money;
    const char* text;
  } cases[] = {{"10", NumeralTable::Lower, false, "十"},
               {"15", NumeralTable::Lower, false, "十五"},
               {"100000", NumeralTable::Lower, false, "十萬"},
               {"10", NumeralTable::Upper, false, "壹拾"},
               {"10", NumeralTable::Lower, true, "一十元"},
               {"110", NumeralTable::Lower, false, "一百一十"},
               {"10001", NumeralTable::Lower, false, "一萬〇一"},
               {"100000000", NumeralTable::Lower, false, "一億"},
               {"1001", NumeralTable::Lower, false, "一千〇一"},
               {"100100", NumeralTable::Lower, false, "十萬〇一百"},
               {"100010000", NumeralTable::Lower, false, "一億〇一萬"},
               {"120000300", NumeralTable::Lower, false, "一億二千萬〇三百"},
               {"100000001", NumeralTable::Lower, false, "一億〇一"},
               {"1010", NumeralTable::Upper, false, "壹仟零壹拾"},
               {"999999999999", NumeralTable::Upper, false,
                "玖仟玖佰玖拾玖億玖仟玖佰玖拾玖萬玖仟玖佰玖拾玖"},
               {"0007", NumeralTable::Lower, false, "七"},
               {"000", NumeralTable::Lower, false, "〇"}};
  for (const auto& c : cases) {
    std::string out;
    EXPECT_TRUE(ConvertChineseInteger(c.digits, c.table, c.money, &out)) << c.digits;
    EXPECT_EQ(out, c.text) << c.digits;
  }
  std::string out = "unchanged";
  EXPECT_FALSE(ConvertChineseInteger("1000000000000", NumeralTable::Lower, false, &out));
  EXPECT_EQ(out, "unchanged");
}

TEST(ChineseNumerals, PageOfNumberAndAmountForms) {
  PluginPage page = ChineseNumeralPage("0");
  EXPECT_EQ(Texts(page.items), (Strings{"〇", "零", "〇元整", "零元整"}));
  EXPECT_EQ(Comments(page.items),
            (Strings{"〔數字小寫〕", "〔數字大寫〕", "〔金額小寫〕", "〔金額大寫〕"}));
  EXPECT_EQ(Texts(ChineseNumeralPage("12.30").items),
            (Strings{"十二點三〇", "壹拾貳點叁零", "一十二元三角", "壹拾貳元叁角"}));
  page = ChineseNumeralPage("5.00001");  // only four decimals count in amounts
  EXPECT_EQ(page.items[2].text, "五元整");
  EXPECT_EQ(page.items[0].text, "五點〇〇〇〇一");
  EXPECT_EQ(ChineseNumeralPage("3.0405").items[3].text, "叁元肆分伍毫");
  EXPECT_EQ(ChineseNumeralPage("8.").items[2].text, "八元整");
  EXPECT_EQ(ChineseNumeralPage(".5").items[0].text, "〇點五");
  EXPECT_EQ(ChineseNumeralPage("000000001234567").items.size(), 4u);
  // Thirteen digits, eighteen characters, and what is not a number give no page.
  for (const char* bad : {"1234567890123", "123456789012345678", "1.2.3", "12a", ""})
    EXPECT_TRUE(ChineseNumeralPage(bad).items.empty()) << bad;
}

// The character and the sixteen that follow it, without surrogates or past U+10FFFF.
TEST(CodePoint, CharacterAndTheSixteenThatFollow) {
  PluginPage page = CodePointPage("4e0");
  ASSERT_EQ(page.items.size(), 17u);
  EXPECT_EQ(page.items[0].text, "Ӡ");
  EXPECT_EQ(page.items[0].comment, "U4e0");
  EXPECT_EQ(page.items[1].text, "一");
  EXPECT_EQ(page.items[1].comment, "U4e0~");
  EXPECT_EQ(page.items[16].text, "丏");
  EXPECT_TRUE(page.digits_as_input);
  page = CodePointPage("1F600");
  ASSERT_EQ(page.items.size(), 1u);
  EXPECT_EQ(page.items[0].text, "😀");
  EXPECT_EQ(page.items[0].comment, "U1F600");
  EXPECT_EQ(CodePointPage("7F").items[0].text, "\x7F");

  const std::pair<const char*, size_t> sizes[] = {
      {"D80", 1},  {"FFFF", 17},  {"10FFF", 1},   {"E000", 17}, {"10FFFF", 1}, {"D800", 0},
      {"DFFF", 0}, {"110000", 0}, {"1234567", 0}, {"", 0},      {"4g", 0},     {"-1", 0}};
  for (const auto& [argument, size] : sizes)
    EXPECT_EQ(CodePointPage(argument).items.size(), size) << argument;
}

// 2024-03-05 21:07:09 UTC is 2024-03-06 05:07:09, a Wednesday, eight hours east.
constexpr int64_t kMorning = 1709672829;

TEST(DateTime, EveryWordInLocalTimeAndZeroReadsTheClock) {
  const char* old = getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "UTC-8", 1);  // eight hours east of UTC
  tzset();
  const std::pair<const char*, Strings> cases[] = {
      {"rq", {"2024-03-06", "2024/03/06", "2024.03.06", "20240306", "2024年3月6日"}},
      {"sj", {"05:07", "05:07:09"}},
      {"xq", {"星期三", "禮拜三", "周三"}},
      {"dt", {"2024-03-06T05:07:09+0800", "2024-03-06 05:07:09", "20240306050709"}},
      {"ts", {"1709672829"}},
      {"rqx", {}},
      {"RQ", {}}};
  for (const auto& [word, texts] : cases)
    EXPECT_EQ(Texts(DateTimePage(word, kMorning).items), texts);
  EXPECT_EQ(DateTimePage("date", kMorning).items.size(), 5u);
  EXPECT_EQ(DateTimePage("time", kMorning).items.size(), 2u);
  EXPECT_EQ(DateTimePage("week", kMorning).items.size(), 3u);
  EXPECT_EQ(LocalDateOf(kMorning).day, 6);

  const int64_t before = time(nullptr);
  const Strings now = Texts(DateTimePage("ts", 0).items);
  EXPECT_EQ(now.size(), 1u);
  EXPECT_GE(std::stoll(now.at(0)), before);
  EXPECT_LE(std::stoll(now.at(0)), time(nullptr));
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
}  // namespace kavi::win
