// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as a theme file and as the catalog, through the same loaders the window uses.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/themes/theme_loader.h"

namespace {

const std::filesystem::path& Directory() {
  static const std::filesystem::path dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kavi-theme-fuzz-XXXXXX").string();
    return std::filesystem::path(mkdtemp(pattern.data()));
  }();
  return dir;
}

void WriteFile(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavi::win;
  const std::filesystem::path& dir = Directory();
  WriteFile(dir / "fuzz.yaml", data, size);
  WriteFile(dir / kThemeCatalogFileName, data, size);
  for (bool dark : {false, true}) {
    CandidateStyle style;
    std::string message;
    if (LoadThemeFile(dir, "fuzz", dark, &style, &message)) {
      if (!message.empty()) abort();
      if (style.font_point < 8 || style.font_point > 72 || style.alpha < 0 || style.alpha > 1) {
        abort();
      }
    } else if (message.empty()) {
      abort();
    }
  }
  std::vector<std::string> ids;
  std::string message;
  if (LoadThemeCatalog(dir, &ids, &message)) {
    for (const std::string& id : ids) {
      if (!IsValidThemeId(id)) abort();
    }
  }
  return 0;
}
