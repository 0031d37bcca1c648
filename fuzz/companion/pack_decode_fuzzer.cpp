// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes into the MessagePack decoder. A decoded value must encode canonically: the
// encoding decodes to the same value (up to signed integers that are not negative, which come
// back unsigned) and encodes to the same bytes again. The borrowing decode agrees with the
// copying one, refusals and their reasons included, and leaves its input as it was.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "companion/pack_codec.h"

using kavi::win::PackDecode;
using kavi::win::PackDecodeBorrowed;
using kavi::win::PackEncode;
using kavi::win::PackValue;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past the end lands outside the allocation.
  std::unique_ptr<char[]> input(new char[size]);
  if (size > 0) std::memcpy(input.get(), data, size);

  PackValue value;
  std::string error;
  const bool decoded = PackDecode(std::string_view(input.get(), size), &value, &error);
  {
    PackValue borrowed;
    std::string borrowed_error;
    const bool borrowed_decoded =
        PackDecodeBorrowed(std::string_view(input.get(), size), &borrowed, &borrowed_error);
    if (borrowed_decoded != decoded || borrowed_error != error || !(borrowed == value))
      std::abort();
  }
  if (size > 0 && std::memcmp(input.get(), data, size) != 0) std::abort();
  if (!decoded) {
    if (error.empty() || !value.is_nil()) std::abort();
    return 0;
  }
  if (!error.empty()) std::abort();
  const std::string bytes = PackEncode(value);
  if (bytes.size() > size) std::abort();  // the canonical form is the shortest
  PackValue again;
  if (!PackDecode(bytes, &again, &error)) std::abort();
  if (PackEncode(again) != bytes) std::abort();
  const PackValue copy = again;
  if (!(copy == again)) std::abort();
  return 0;
}
