// SPDX-License-Identifier: Apache-2.0
// Whatever bytes a downloaded package holds, reading its control file ends with an answer and
// its fields parse or are refused.
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "update/deb_control.h"

namespace {
using kavi::fuzz::Check;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavi::win;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  DebControl control;
  std::string detail;
  const DebControlResult result = ReadDebControlFromMemory(bytes, &control, &detail);
  if (result != DebControlResult::kRead) Check(!detail.empty());
  // The bytes as a control file's text and as a version.
  ParseControlFields(bytes, &control);
  std::vector<uint32_t> version;
  uint32_t build = 0;
  if (ParseDebianVersion(bytes, &version, &build)) Check(version.size() == 3);
  return 0;
}
