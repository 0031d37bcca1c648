// SPDX-License-Identifier: Apache-2.0
#include "plugins/lunar_calendar.h"

#include "plugins/date_time_command.h"
#include "plugins/text_util.h"

namespace kavi::win {
namespace {

constexpr size_t kRecordLength = 7;
constexpr int kMonthsPerYear = 12;
constexpr int kLastGregorianYear = 2100;
constexpr size_t kDateDigits = 8;

constexpr const char* kStems[] = {"甲", "乙", "丙", "丁", "戊", "己", "庚", "辛", "壬", "癸"};
constexpr const char* kBranches[] = {"子", "丑", "寅", "卯", "辰", "巳",
                                     "午", "未", "申", "酉", "戌", "亥"};
constexpr const char* kAnimals[] = {"鼠", "牛", "虎", "兔", "龍", "蛇",
                                    "馬", "羊", "猴", "雞", "狗", "豬"};
constexpr const char* kMonthNames[] = {"正月", "二月", "三月", "四月", "五月", "六月",
                                       "七月", "八月", "九月", "十月", "冬月", "臘月"};
constexpr const char* kDayNames[] = {"初一", "初二", "初三", "初四", "初五", "初六", "初七", "初八",
                                     "初九", "初十", "十一", "十二", "十三", "十四", "十五", "十六",
                                     "十七", "十八", "十九", "二十", "廿一", "廿二", "廿三", "廿四",
                                     "廿五", "廿六", "廿七", "廿八", "廿九", "三十"};
constexpr const char* kYearDigits[] = {"〇", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
constexpr char kLeapPrefix[] = "閏";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1 to 12).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap_year = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap_year);
}

}  // namespace

bool LunarTable::Parse(std::string_view text, ParseError* error) {
  records_.clear();
  std::vector<Record> records;
  for (std::string_view line : SplitLines(text)) {
    int digits[kRecordLength];
    bool valid = line.size() == kRecordLength;
    for (size_t i = 0; valid && i < kRecordLength; ++i) {
      digits[i] = HexDigit(line[i]);
      valid = digits[i] >= 0;
    }
    if (!valid || (line[3] != '0' && line[3] != '1') || digits[4] >= 13) {
      *error = ParseError::BadRecord;
      return false;
    }
    int new_year = digits[5] * 16 + digits[6];
    records.push_back(Record{static_cast<uint16_t>(digits[0] << 8 | digits[1] << 4 | digits[2]),
                             line[3] == '1', digits[4], new_year / 100, new_year % 100});
  }
  if (records.size() != kYearCount) {
    *error = ParseError::WrongCount;
    return false;
  }
  records_ = std::move(records);
  *error = ParseError::None;
  return true;
}

bool LunarTable::Convert(int year, int month, int day, LunarDate* out) const {
  // A day that the month does not have (2023-02-29, 2024-04-31) is no date at all: counted
  // from the new year it would silently become a day of the next month.
  if (year < kFirstYear + 1 || year > kLastGregorianYear || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || static_cast<size_t>(year - kFirstYear) >= records_.size()) {
    return false;
  }
  auto new_year_offset = [&](const Record& r, int in_year, int64_t* offset) {
    if (r.new_year_month < 1 || r.new_year_month > 12) return false;
    *offset =
        DaysFromCivil(year, month, day) - DaysFromCivil(in_year, r.new_year_month, r.new_year_day);
    return true;
  };
  int lunar_year = year;
  const Record* record = &records_[year - kFirstYear];
  int64_t offset;
  if (!new_year_offset(*record, year, &offset)) return false;
  if (offset < 0) {
    lunar_year = year - 1;
    record = &records_[year - 1 - kFirstYear];
    if (!new_year_offset(*record, year - 1, &offset)) return false;
  }

  int lengths[kMonthsPerYear + 1];
  int count = 0;
  for (int m = 1; m <= kMonthsPerYear; ++m) {
    lengths[count++] = (record->month_mask >> (kMonthsPerYear - m)) & 1 ? 30 : 29;
    if (m == record->leap_month) lengths[count++] = record->long_leap_month ? 30 : 29;
  }
  int64_t n = offset + 1;
  int slot = 0;
  while (slot < count && n > lengths[slot]) n -= lengths[slot++];
  if (slot == count) return false;

  int leap = record->leap_month;
  LunarDate date{lunar_year, 0, static_cast<int>(n), false};
  if (leap == 0 || slot < leap) {
    date.month = slot + 1;
  } else {
    date.month = slot;
    date.leap_month = slot == leap;
  }
  if (date.month < 1 || date.month > kMonthsPerYear || date.day < 1 || date.day > 30) {
    return false;
  }
  *out = date;
  return true;
}

std::vector<std::string> LunarTable::Describe(const LunarDate& date) {
  std::string month_day = std::string(date.leap_month ? kLeapPrefix : "") +
                          kMonthNames[date.month - 1] + kDayNames[date.day - 1];
  int cycle = ((date.year - 4) % 60 + 60) % 60;
  std::string cyclic = std::string(kStems[cycle % 10]) + kBranches[cycle % 12] + "年（" +
                       kAnimals[cycle % 12] + "）" + month_day;
  std::string digits;
  for (char c : std::to_string(date.year)) digits += kYearDigits[c - '0'];
  return {cyclic, digits + "年" + month_day};
}

PluginPage LunarTable::Page(std::string_view query, int64_t now) const {
  PluginPage page;
  int year;
  int month;
  int day;
  if (query == "hl") {
    LocalDate today = LocalDateOf(now);
    year = today.year;
    month = today.month;
    day = today.day;
  } else if (query == "hln") {
    page.items.push_back(CommitItem("輸入 8 位日期", "如 20241211"));
    page.digits_as_input = true;
    return page;
  } else if (query.starts_with("hln")) {
    std::string_view digits = query.substr(3);
    for (char c : digits) {
      if (!IsAsciiDigit(c)) return page;
    }
    if (digits.size() < kDateDigits) {
      page.items.push_back(CommitItem(
          std::string(digits), "還需 " + std::to_string(kDateDigits - digits.size()) + " 位"));
      page.digits_as_input = true;
      return page;
    }
    if (digits.size() > kDateDigits) return page;
    year = std::stoi(std::string(digits.substr(0, 4)));
    month = std::stoi(std::string(digits.substr(4, 2)));
    day = std::stoi(std::string(digits.substr(6, 2)));
  } else {
    return page;
  }
  LunarDate date;
  if (!Convert(year, month, day, &date)) return page;
  for (std::string& text : Describe(date)) page.items.push_back(CommitItem(std::move(text)));
  return page;
}

}  // namespace kavi::win
