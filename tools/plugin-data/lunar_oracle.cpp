#include "tools/plugin-data/lunar_oracle.h"

#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cstdio>
#include <vector>

namespace kavi::win::tools {
namespace {

constexpr double kMillisPerDay = 86400000.0;
// ICU's Chinese calendar counts years from 2637 BCE.
constexpr int kChineseEpochOffset = 2637;

}  // namespace

struct IcuLunarOracle::Calendars {
  std::unique_ptr<icu::Calendar> gregorian;
  std::unique_ptr<icu::Calendar> chinese;
};

IcuLunarOracle::IcuLunarOracle() : calendars_(std::make_unique<Calendars>()) {
  UErrorCode status = U_ZERO_ERROR;
  // Noon UTC of each civil day; the Chinese calendar places new moons in China's own time.
  calendars_->gregorian.reset(new icu::GregorianCalendar(*icu::TimeZone::getGMT(), status));
  calendars_->chinese.reset(icu::Calendar::createInstance(
      *icu::TimeZone::getGMT(), icu::Locale("zh_CN@calendar=chinese"), status));
  ok_ = U_SUCCESS(status) && calendars_->gregorian && calendars_->chinese;
}

IcuLunarOracle::~IcuLunarOracle() = default;

IcuLunarDate IcuLunarOracle::Convert(int year, int month, int day) {
  UErrorCode status = U_ZERO_ERROR;
  icu::Calendar& g = *calendars_->gregorian;
  g.clear();
  g.set(year, month - 1, day, 12, 0, 0);
  UDate time = g.getTime(status);
  icu::Calendar& c = *calendars_->chinese;
  c.setTime(time, status);
  IcuLunarDate date;
  date.month = c.get(UCAL_MONTH, status) + 1;
  date.day = c.get(UCAL_DATE, status);
  date.leap_month = c.get(UCAL_IS_LEAP_MONTH, status) != 0;
  int extended_year = c.get(UCAL_EXTENDED_YEAR, status);
  date.year = extended_year - kChineseEpochOffset;
  return date;
}

std::string IcuLunarOracle::YearRecord(int year) {
  // Find the new year: the first day of month 1 in January or February.
  int new_year_month = 1;
  int new_year_day = 1;
  for (int m = 1; m <= 2; ++m) {
    for (int d = 1; d <= 31; ++d) {
      IcuLunarDate date = Convert(year, m, d);
      if (date.month == 1 && date.day == 1 && !date.leap_month) {
        new_year_month = m;
        new_year_day = d;
        m = 3;
        break;
      }
    }
  }
  // Walk the lunar year day by day and measure each month.
  UErrorCode status = U_ZERO_ERROR;
  icu::Calendar& g = *calendars_->gregorian;
  g.clear();
  g.set(year, new_year_month - 1, new_year_day, 12, 0, 0);
  UDate time = g.getTime(status);
  int mask = 0;
  int leap_month = 0;
  bool long_leap = false;
  IcuLunarDate previous{0, 1, 1, false};
  int length = 0;
  auto close_month = [&](const IcuLunarDate& month) {
    if (month.leap_month) {
      leap_month = month.month;
      long_leap = length == 30;
    } else if (length == 30) {
      mask |= 1 << (12 - month.month);
    }
  };
  for (int i = 0;; ++i, time += kMillisPerDay) {
    icu::Calendar& c = *calendars_->chinese;
    c.setTime(time, status);
    IcuLunarDate date{0, c.get(UCAL_MONTH, status) + 1, c.get(UCAL_DATE, status),
                      c.get(UCAL_IS_LEAP_MONTH, status) != 0};
    if (i > 0 && date.day == 1) {
      close_month(previous);
      length = 0;
      if (date.month == 1 && !date.leap_month) break;
    }
    previous = date;
    ++length;
  }
  char line[16];
  std::snprintf(line, sizeof line, "%03X%d%X%02X", mask, long_leap ? 1 : 0, leap_month,
                new_year_month * 100 + new_year_day);
  return line;
}

}  // namespace kavi::win::tools
