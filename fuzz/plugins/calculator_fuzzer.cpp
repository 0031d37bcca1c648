// SPDX-License-Identifier: Apache-2.0
// The calculator reads whatever follows the trigger: rewrites, parser and functions.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plugins/calculator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kavi::win::PluginPage page = kavi::win::CalculatorPage(text);
  if (!page.items.empty() && page.items.size() != 2) std::abort();
  double value;
  if (kavi::win::EvaluateExpression(text, &value) && !std::isfinite(value)) std::abort();
  return 0;
}
