// SPDX-License-Identifier: Apache-2.0
// Theme colours are "0x" strings in 0xBBGGRR (opaque) or 0xAABBGGRR order.
#pragma once

#include <string_view>

#include "style/candidate_style.h"

namespace kavi::win {

// Reads "0xBBGGRR" or "0xAABBGGRR" (lower-case prefix, hexadecimal digits). Anything else
// returns false and leaves *color untouched.
bool ParseThemeColor(std::string_view text, StyleColor* color);

// Ordinary #RRGGBB notation, opaque; used for the base palettes.
constexpr StyleColor RgbColor(unsigned rgb) {
  return StyleColor{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
                    static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                    static_cast<float>(rgb & 0xFF) / 255.0f, 1.0f};
}

}  // namespace kavi::win
