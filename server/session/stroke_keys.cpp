// SPDX-License-Identifier: Apache-2.0
#include "server/session/stroke_keys.h"

#include "protocol/pipe_records.h"

namespace kavi::win {
namespace {

constexpr std::string_view kStrokeLetters = "hspnz";
// The letters that stand for strokes in the stroke scheme's own layouts.
constexpr std::string_view kStrokeTable = "hspnzdtjklui";

}  // namespace

StrokeKeyResult MapStrokeKey(uint32_t key, uint32_t modifiers, std::string_view keys,
                             std::string_view input) {
  StrokeKeyResult out{false, key};
  if ((modifiers & ~keys::kReleaseMask) != 0 || keys.size() != kStrokeLetters.size()) return out;
  if (!input.empty() && input.front() == '`') return out;
  if (key >= keys::kKeypad1 && key <= keys::kKeypad5) {
    out.consumed = true;
    return out;
  }
  uint32_t folded = (key >= 'A' && key <= 'Z') ? key + ('a' - 'A') : key;
  if (folded < 'a' || folded > 'z') return out;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (static_cast<unsigned char>(keys[i]) == folded) {
      out.key = static_cast<uint32_t>(kStrokeLetters[i]);
      return out;
    }
  }
  if (kStrokeTable.find(static_cast<char>(folded)) != std::string_view::npos) out.consumed = true;
  return out;
}

}  // namespace kavi::win
