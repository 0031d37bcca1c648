// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes into the JSON reader. A successful parse must serialise to text that parses
// back to the same value and serialises to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "config/json.h"

using kavi::win::JsonValue;
namespace server = kavi::win::server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past the end lands outside the allocation.
  std::unique_ptr<char[]> input(new char[size]);
  if (size > 0) std::memcpy(input.get(), data, size);

  JsonValue value;
  std::string error;
  if (!server::ParseJson(input.get(), size, &value, &error)) {
    if (error.empty() || !value.is_null()) std::abort();
    return 0;
  }
  if (!error.empty()) std::abort();
  const std::string text = server::SerializeJson(value);
  JsonValue again;
  if (!server::ParseJson(text, &again, &error)) std::abort();
  if (!(again == value)) std::abort();
  if (server::SerializeJson(again) != text) std::abort();
  return 0;
}
