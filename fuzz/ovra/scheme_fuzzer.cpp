// SPDX-License-Identifier: Apache-2.0
// Scheme files arrive with downloaded scheme packs, and the user's pinyin options (a scheme-file
// section) are edited by hand: any bytes must parse or be refused with a message, never crash.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ovra/pinyin_options.h"
#include "ovra/scheme.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<std::filesystem::path> kDataDirs{KAVI_OVRA_FUZZ_DATA_DIR};
  std::string text(reinterpret_cast<const char*>(data), size);
  kavi::win::SchemeDefinition scheme;
  std::string message;
  if (kavi::win::ParseScheme(text, std::filesystem::path(KAVI_OVRA_FUZZ_DATA_DIR) / "schemas",
                             kDataDirs, &scheme, &message)) {
    if (scheme.id.empty() || scheme.dictionaries.empty()) __builtin_trap();
  } else if (message.empty()) {
    __builtin_trap();
  }

  kavi::win::UserPinyinOptions options;
  std::vector<std::string> problems;
  if (kavi::win::ParseUserPinyinOptions(text, &options, &problems, &message)) {
    // What was taken is written back and read again as it was.
    kavi::win::UserPinyinOptions again;
    if (!kavi::win::ParseUserPinyinOptions(kavi::win::UserPinyinOptionsText(options), &again,
                                           &problems, &message) ||
        again != options || !problems.empty()) {
      __builtin_trap();
    }
  } else if (message.empty()) {
    __builtin_trap();
  }
  return 0;
}
