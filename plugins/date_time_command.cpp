// SPDX-License-Identifier: Apache-2.0
#include "plugins/date_time_command.h"

#include <ctime>
#include <string>

namespace kavi::win {
namespace {

// Indexed by tm_wday (Sunday = 0).
constexpr const char* kWeekdayNames[] = {"日", "一", "二", "三", "四", "五", "六"};

std::tm LocalTime(int64_t now) {
  std::time_t seconds = now != 0 ? static_cast<std::time_t>(now) : std::time(nullptr);
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

std::string Format(const std::tm& local, const char* pattern) {
  char buffer[64];
  size_t length = std::strftime(buffer, sizeof buffer, pattern, &local);
  return std::string(buffer, length);
}

}  // namespace

LocalDate LocalDateOf(int64_t now) {
  std::tm local = LocalTime(now);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

PluginPage DateTimePage(std::string_view query, int64_t now) {
  PluginPage page;
  std::tm local = LocalTime(now);
  if (query == "rq" || query == "date") {
    for (const char* pattern : {"%Y-%m-%d", "%Y/%m/%d", "%Y.%m.%d", "%Y%m%d"}) {
      page.items.push_back(CommitItem(Format(local, pattern)));
    }
    page.items.push_back(CommitItem(std::to_string(local.tm_year + 1900) + "年" +
                                    std::to_string(local.tm_mon + 1) + "月" +
                                    std::to_string(local.tm_mday) + "日"));
  } else if (query == "sj" || query == "time") {
    page.items.push_back(CommitItem(Format(local, "%H:%M")));
    page.items.push_back(CommitItem(Format(local, "%H:%M:%S")));
  } else if (query == "xq" || query == "week") {
    std::string name = kWeekdayNames[local.tm_wday];
    for (const char* prefix : {"星期", "禮拜", "周"})
      page.items.push_back(CommitItem(prefix + name));
  } else if (query == "dt") {
    for (const char* pattern : {"%Y-%m-%dT%H:%M:%S%z", "%Y-%m-%d %H:%M:%S", "%Y%m%d%H%M%S"}) {
      page.items.push_back(CommitItem(Format(local, pattern)));
    }
  } else if (query == "ts") {
    page.items.push_back(
        CommitItem(std::to_string(now != 0 ? now : static_cast<int64_t>(std::time(nullptr)))));
  }
  return page;
}

}  // namespace kavi::win
