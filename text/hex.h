// SPDX-License-Identifier: Apache-2.0
// Bytes as lower-case hexadecimal text, two digits a byte (digests, keys).
#pragma once

#include <string>
#include <string_view>

namespace kavi::win {

inline std::string HexEncode(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (const unsigned char c : bytes) {
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 15]);
  }
  return hex;
}

}  // namespace kavi::win
