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

using ::kavi::win::testing::Comments;
using ::kavi::win::testing::Texts;
using Strings = std::vector<std::string>;

std::string Lower(std::string_view digits, bool money = false) {
  std::string out;
  EXPECT_TRUE(ConvertChineseInteger(digits, NumeralTable::Lower, money, &out)) << digits;
  return out;
}

std::string Upper(std::string_view digits, bool money = false) {
  std::string out;
  EXPECT_TRUE(ConvertChineseInteger(digits, NumeralTable::Upper, money, &out)) << digits;
  return out;
}

TEST(ChineseNumerals, TensReadDifferentlyInTheLowerNumberForm) {
  EXPECT_EQ(Lower("10"), "十");
  EXPECT_EQ(Lower("15"), "十五");
  EXPECT_EQ(Lower("100000"), "十萬");
  EXPECT_EQ(Upper("10"), "壹拾");
  EXPECT_EQ(Lower("10", true), "一十元");  // amounts keep the 一
  EXPECT_EQ(Lower("110"), "一百一十");
}

TEST(ChineseNumerals, ZerosBetweenGroupsAndDigits) {
  EXPECT_EQ(Lower("10001"), "一萬〇一");
  EXPECT_EQ(Lower("100000000"), "一億");
  EXPECT_EQ(Lower("1001"), "一千〇一");
  EXPECT_EQ(Lower("100100"), "十萬〇一百");
  EXPECT_EQ(Lower("100010000"), "一億〇一萬");
  EXPECT_EQ(Lower("120000300"), "一億二千萬〇三百");
  EXPECT_EQ(Lower("100000001"), "一億〇一");
  EXPECT_EQ(Upper("1010"), "壹仟零壹拾");
  EXPECT_EQ(Upper("999999999999"), "玖仟玖佰玖拾玖億玖仟玖佰玖拾玖萬玖仟玖佰玖拾玖");
  EXPECT_EQ(Lower("0007"), "七");
  EXPECT_EQ(Lower("000"), "〇");
  std::string out = "unchanged";
  EXPECT_FALSE(ConvertChineseInteger("1000000000000", NumeralTable::Lower, false, &out));
  EXPECT_EQ(out, "unchanged");
}

TEST(ChineseNumerals, PageOfNumberAndAmountForms) {
  PluginPage page = ChineseNumeralPage("0");
  EXPECT_EQ(Texts(page.items), (Strings{"〇", "零", "〇元整", "零元整"}));
  EXPECT_EQ(Comments(page.items),
            (Strings{"〔數字小寫〕", "〔數字大寫〕", "〔金額小寫〕", "〔金額大寫〕"}));

  page = ChineseNumeralPage("12.30");
  EXPECT_EQ(Texts(page.items),
            (Strings{"十二點三〇", "壹拾貳點叁零", "一十二元三角", "壹拾貳元叁角"}));

  page = ChineseNumeralPage("5.00001");  // only four decimals count in amounts
  EXPECT_EQ(page.items[2].text, "五元整");
  EXPECT_EQ(page.items[0].text, "五點〇〇〇〇一");

  page = ChineseNumeralPage("3.0405");
  EXPECT_EQ(page.items[3].text, "叁元肆分伍毫");
  EXPECT_EQ(ChineseNumeralPage("8.").items[2].text, "八元整");
  EXPECT_EQ(ChineseNumeralPage(".5").items[0].text, "〇點五");
}

TEST(ChineseNumerals, ArgumentsThatGiveNoPage) {
  EXPECT_TRUE(ChineseNumeralPage("1234567890123").items.empty());  // thirteen digits
  EXPECT_EQ(ChineseNumeralPage("000000001234567").items.size(), 4u);
  EXPECT_TRUE(ChineseNumeralPage("123456789012345678").items.empty());  // 18 characters
  EXPECT_TRUE(ChineseNumeralPage("1.2.3").items.empty());
  EXPECT_TRUE(ChineseNumeralPage("12a").items.empty());
  EXPECT_TRUE(ChineseNumeralPage("").items.empty());
}

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

  EXPECT_EQ(CodePointPage("D80").items.size(), 1u);    // D800..D80F are surrogates
  EXPECT_EQ(CodePointPage("FFFF").items.size(), 17u);  // FFFF0..FFFFF
  EXPECT_EQ(CodePointPage("10FFF").items.size(), 1u);
  EXPECT_EQ(CodePointPage("7F").items[0].text, "\x7F");
}

TEST(CodePoint, InvalidArguments) {
  for (const char* bad : {"D800", "DFFF", "110000", "1234567", "", "4g", "-1"}) {
    EXPECT_TRUE(CodePointPage(bad).items.empty()) << bad;
  }
  EXPECT_EQ(CodePointPage("E000").items.size(), 17u);
  EXPECT_EQ(CodePointPage("10FFFF").items.size(), 1u);
}

class DateTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("TZ");
    if (old) saved_ = old;
    had_tz_ = old != nullptr;
    setenv("TZ", "UTC-8", 1);  // eight hours east of UTC
    tzset();
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::string saved_;
  bool had_tz_ = false;
};

// 2024-03-05 21:07:09 UTC is 2024-03-06 05:07:09, a Wednesday, eight hours east.
constexpr int64_t kMorning = 1709672829;

TEST_F(DateTimeTest, EveryWordInLocalTime) {
  EXPECT_EQ(Texts(DateTimePage("rq", kMorning).items),
            (Strings{"2024-03-06", "2024/03/06", "2024.03.06", "20240306", "2024年3月6日"}));
  EXPECT_EQ(Texts(DateTimePage("date", kMorning).items).size(), 5u);
  EXPECT_EQ(Texts(DateTimePage("sj", kMorning).items), (Strings{"05:07", "05:07:09"}));
  EXPECT_EQ(Texts(DateTimePage("time", kMorning).items).size(), 2u);
  EXPECT_EQ(Texts(DateTimePage("xq", kMorning).items), (Strings{"星期三", "禮拜三", "周三"}));
  EXPECT_EQ(Texts(DateTimePage("week", kMorning).items).size(), 3u);
  EXPECT_EQ(Texts(DateTimePage("dt", kMorning).items),
            (Strings{"2024-03-06T05:07:09+0800", "2024-03-06 05:07:09", "20240306050709"}));
  EXPECT_EQ(Texts(DateTimePage("ts", kMorning).items), (Strings{"1709672829"}));
  EXPECT_TRUE(DateTimePage("rqx", kMorning).items.empty());
  EXPECT_TRUE(DateTimePage("RQ", kMorning).items.empty());
}

TEST_F(DateTimeTest, ZeroReadsTheClock) {
  int64_t before = time(nullptr);
  PluginPage page = DateTimePage("ts", 0);
  ASSERT_EQ(page.items.size(), 1u);
  int64_t shown = std::stoll(page.items[0].text);
  EXPECT_GE(shown, before);
  EXPECT_LE(shown, time(nullptr));
  EXPECT_EQ(LocalDateOf(kMorning).day, 6);
}

}  // namespace
}  // namespace kavi::win
