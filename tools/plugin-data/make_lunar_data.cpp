// Writes lunar_data.txt: one record line per lunar year beginning in 1899 to 2100, from ICU's
// Chinese calendar. Usage: kavi_make_lunar_data <output file>
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/plugin-data/lunar_oracle.h"

int main(int argc, char** argv) {
  constexpr int kFirstYear = 1899;
  constexpr int kLastYear = 2100;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <lunar_data.txt>\n", argv[0]);
    return 2;
  }
  kavi::win::tools::IcuLunarOracle oracle;
  if (!oracle.ok()) {
    std::fprintf(stderr, "ICU's Chinese calendar is not available\n");
    return 1;
  }
  std::string content;
  for (int year = kFirstYear; year <= kLastYear; ++year) content += oracle.YearRecord(year) + "\n";
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
