// SPDX-License-Identifier: Apache-2.0
// A custom five-key layout for the stroke scheme: the user's five keys stand for the strokes
// h, s, p, n, z; the other letters the scheme would read as strokes are swallowed.
#pragma once

#include <cstdint>
#include <string_view>

namespace kavi::win {

struct StrokeKeyResult {
  bool consumed = false;  // the key is swallowed without reaching the engine
  uint32_t key = 0;       // otherwise the key to pass on
};

// keys: the five configured letters, lower case. input: the engine's current input.
StrokeKeyResult MapStrokeKey(uint32_t key, uint32_t modifiers, std::string_view keys,
                             std::string_view input);

}  // namespace kavi::win
