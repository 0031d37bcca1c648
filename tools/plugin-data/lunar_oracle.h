// Chinese lunar dates from ICU's Chinese calendar: the source of lunar_data.txt and the oracle
// that its test checks the shipped table against.
#pragma once

#include <memory>
#include <string>

namespace kavi::win::tools {

struct IcuLunarDate {
  int year;   // the Gregorian year in which the lunar year began
  int month;  // 1 to 12
  int day;
  bool leap_month;
};

class IcuLunarOracle {
 public:
  IcuLunarOracle();
  ~IcuLunarOracle();
  bool ok() const { return ok_; }

  // The lunar date of a Gregorian calendar date.
  IcuLunarDate Convert(int year, int month, int day);

  // The record line of the lunar year that begins in Gregorian `year`: month-length mask,
  // leap-month length, leap month, new-year date (month * 100 + day), in hexadecimal.
  std::string YearRecord(int year);

 private:
  struct Calendars;
  std::unique_ptr<Calendars> calendars_;
  bool ok_ = false;
};

}  // namespace kavi::win::tools
