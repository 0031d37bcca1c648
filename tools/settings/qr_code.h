// SPDX-License-Identifier: Apache-2.0
// A QR code of a short text (the companion's pairing link), as a square of dark and light
// modules that the account page draws.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kavi::win {

struct QrCode {
  int size = 0;            // modules per side
  std::vector<bool> dark;  // row by row, size * size

  bool Dark(int x, int y) const { return dark[static_cast<size_t>(y * size + x)]; }
};

// The smallest code that holds `text` as bytes at the medium error-correction level; nullopt
// when the text does not fit in any.
std::optional<QrCode> EncodeQrCode(const std::string& text);

}  // namespace kavi::win
