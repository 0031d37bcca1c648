// SPDX-License-Identifier: Apache-2.0
// Writes lunar_data.txt: one record line per lunar year beginning in 1899 to 2100, read from
// liblunar-date. Usage: kavi_make_lunar_data <output file>
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/plugin-data/lunar_oracle.h"

namespace {

constexpr int kFirstYear = 1899;
constexpr int kLastYear = 2100;
// The lunar year that began on 10 February 1899, which liblunar-date does not reach: no leap
// month, and its twelfth month of 30 days runs from 1 January to 30 January 1900. Only that
// month is ever read from this line.
constexpr char k1899Record[] = "AB500D2";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <lunar_data.txt>\n", argv[0]);
    return 2;
  }
  kavi::win::tools::LunarDateOracle oracle;
  std::string content = std::string(k1899Record) + "\n";
  for (int year = kFirstYear + 1; year <= kLastYear; ++year) {
    std::string record = oracle.YearRecord(year);
    if (record.empty()) {
      std::fprintf(stderr, "liblunar-date cannot describe the lunar year of %d\n", year);
      return 1;
    }
    content += record + "\n";
  }
  std::string temporary = std::string(argv[1]) + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      std::fprintf(stderr, "cannot write %s\n", temporary.c_str());
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), argv[1]) != 0) {
    std::remove(temporary.c_str());
    std::fprintf(stderr, "cannot replace %s\n", argv[1]);
    return 1;
  }
  return 0;
}
