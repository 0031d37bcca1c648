// SPDX-License-Identifier: Apache-2.0
// The engine's questions about keys; the key names themselves are the wire's.
#pragma once

#include <cstdint>

#include "protocol/keysyms.h"

namespace kavi::win::keys {

inline bool IsLower(uint32_t key) {
  return key >= 'a' && key <= 'z';
}
inline bool IsUpper(uint32_t key) {
  return key >= 'A' && key <= 'Z';
}
inline bool IsDigit(uint32_t key) {
  return key >= '0' && key <= '9';
}
inline bool IsPrintableAscii(uint32_t key) {
  return key > 0x20 && key < 0x7F;
}

}  // namespace kavi::win::keys
