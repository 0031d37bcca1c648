// SPDX-License-Identifier: Apache-2.0
#include "plugins/lunar_calendar.h"

#include <gtest/gtest.h>

#include <optional>

#include "tests/plugins/test_support.h"
#include "tools/plugin-data/lunar_oracle.h"

namespace kavi::win {
namespace {

using namespace ::kavi::win::testing;

LunarTable ShippedTable() {
  LunarTable table;
  LunarTable::ParseError error;
  EXPECT_TRUE(table.Parse(ReadShipped("lunar_data.txt"), &error));
  return table;
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap_year = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return kDays[m - 1] + (m == 2 && leap_year);
}

Strings Describe(const LunarTable& table, int y, int m, int d) {
  LunarDate date;
  if (!table.Convert(y, m, d, &date)) return {};
  return LunarTable::Describe(date);
}

// How a converted date reads: the cyclic year and its animal, leap months, the months after them,
// and the day names. Which lunar day each day is, MatchesLiblunarDateForEveryDay holds.
TEST(LunarTable, PublishedDates) {
  LunarTable table = ShippedTable();
  const struct {
    int y, m, d;
    const char* cyclic;
    const char* numbered;
  } cases[] = {
      // 2024's new year fell on 10 February: the day before ends 臘月 of the 2023 record.
      {2024, 2, 9, "癸卯年（兔）臘月三十", "二〇二三年臘月三十"},
      {2024, 2, 10, "甲辰年（龍）正月初一", "二〇二四年正月初一"},
      // 1900-01-01 lies in the lunar year that began in 1899 (record 0).
      {1900, 1, 1, "己亥年（豬）臘月初一", "一八九九年臘月初一"},
      // 2023 had a leap second month from 22 March to 19 April; 2020 a leap fourth month, and
      // the months after it keep their numbers.
      {2023, 3, 22, "癸卯年（兔）閏二月初一", "二〇二三年閏二月初一"},
      {2023, 4, 19, "癸卯年（兔）閏二月廿九", "二〇二三年閏二月廿九"},
      {2023, 4, 20, "癸卯年（兔）三月初一", "二〇二三年三月初一"},
      {2020, 12, 31, "庚子年（鼠）冬月十七", "二〇二〇年冬月十七"},
      {1954, 11, 25, "甲午年（馬）十月三十", "一九五四年十月三十"},
      {2030, 2, 2, "己酉年（雞）臘月三十", "二〇二九年臘月三十"},
      {2070, 3, 12, "庚寅年（虎）二月初一", "二〇七〇年二月初一"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.m) + "-" + std::to_string(c.d));
    const Strings texts = Describe(table, c.y, c.m, c.d);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], c.cyclic);
    EXPECT_EQ(texts[1], c.numbered);
  }
  EXPECT_EQ(Describe(table, 2100, 12, 31).size(), 2u);
  EXPECT_TRUE(Describe(table, 1899, 12, 31).empty());
  EXPECT_TRUE(Describe(table, 2101, 1, 1).empty());
  EXPECT_TRUE(Describe(table, 2024, 13, 1).empty());
}

TEST(LunarTable, MatchesLiblunarDateForEveryDay) {
  LunarTable table = ShippedTable();
  tools::LunarDateOracle oracle;
  int checked = 0;
  for (int y = 1900; y <= 2100; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = (y == 1900 && m == 1) ? 31 : 1; d <= DaysInMonth(y, m); ++d) {
        LunarDate ours;
        ASSERT_TRUE(table.Convert(y, m, d, &ours)) << y << "-" << m << "-" << d;
        std::optional<tools::ReferenceLunarDate> reference = oracle.Convert(y, m, d);
        ASSERT_TRUE(reference) << y << "-" << m << "-" << d;
        ASSERT_EQ((tools::ReferenceLunarDate{ours.year, ours.month, ours.day, ours.leap_month}),
                  *reference)
            << y << "-" << m << "-" << d;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 73384);  // 1900-01-31 to 2100-12-31
}

TEST(LunarTable, RecordCheckAndLineCount) {
  std::string good;
  for (int i = 0; i < 202; ++i) good += "4bD0883\n";
  LunarTable table;
  LunarTable::ParseError error;
  EXPECT_TRUE(table.Parse(good, &error));
  EXPECT_EQ(error, LunarTable::ParseError::None);
  EXPECT_TRUE(table.Parse(good.substr(0, good.size() - 1), &error));  // no final LF

  EXPECT_FALSE(table.Parse(good + "4BD0883\n", &error));
  EXPECT_EQ(error, LunarTable::ParseError::WrongCount);
  LunarDate date;
  EXPECT_FALSE(table.Convert(1950, 1, 1, &date));  // a failed parse leaves the table empty

  EXPECT_FALSE(table.Parse("", &error));
  EXPECT_EQ(error, LunarTable::ParseError::WrongCount);

  for (const char* bad : {"4BD0883\r", "4BD088", "4BD08833", "4BD2883", "4BD0D83", "4GD0883", ""}) {
    std::string text = good;
    text.replace(7 * 8 + 8, 7, bad);  // line 8
    EXPECT_FALSE(table.Parse(text, &error)) << bad;
    EXPECT_EQ(error, LunarTable::ParseError::BadRecord) << bad;
  }
}

TEST(LunarTable, PageForTodayTypedDatesAndImpossibleOnes) {
  LunarTable table = ShippedTable();
  PluginPage page = table.Page("hln", 0);
  EXPECT_EQ(Texts(page.items), Strings{"輸入 8 位日期"});
  EXPECT_EQ(page.items[0].comment, "如 20241211");
  EXPECT_TRUE(page.digits_as_input);

  page = table.Page("hln2024", 0);
  ASSERT_EQ(page.items.size(), 1u);
  EXPECT_EQ(page.items[0].comment, "還需 4 位");
  EXPECT_TRUE(page.digits_as_input);

  page = table.Page("hln20240210", 0);
  EXPECT_EQ(Texts(page.items), (Strings{"甲辰年（龍）正月初一", "二〇二四年正月初一"}));
  EXPECT_FALSE(page.digits_as_input);

  // Impossible dates, dates out of the table and malformed queries give no page.
  for (const char* query :
       {"hln20230229", "hln21000229", "hln19000229", "hln20240230", "hln20240431", "hln20240631",
        "hln20240931", "hln20241131", "hln20240000", "hln20240132", "hln18991231", "hln20241301",
        "hln20240100", "hln202402101", "hlnx", "hlx"}) {
    EXPECT_TRUE(table.Page(query, 0).items.empty()) << query;
  }
  for (const char* query : {"hln20240229", "hln20000229", "hln20240131", "hln20241231"}) {
    EXPECT_EQ(table.Page(query, 0).items.size(), 2u) << query;
  }
  LunarDate date;
  EXPECT_FALSE(table.Convert(2023, 2, 29, &date));
  EXPECT_FALSE(table.Convert(2023, 4, 31, &date));

  // 2024-02-10 12:00 UTC is the same calendar day in every time zone from UTC-11 to UTC+11.
  page = table.Page("hl", 1707566400);
  EXPECT_EQ(Texts(page.items), (Strings{"甲辰年（龍）正月初一", "二〇二四年正月初一"}));
}

}  // namespace
}  // namespace kavi::win
