// SPDX-License-Identifier: Apache-2.0
// UTF-8 helpers shared by every layer: the wire's text fields, the JSON reader, the engine's
// punctuation and the plug-in commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

// Appends the UTF-8 form of a Unicode scalar value.
void AppendUtf8(uint32_t code_point, std::string* out);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const char* data, size_t size);
inline bool IsValidUtf8(std::string_view text) {
  return IsValidUtf8(text.data(), text.size());
}

// The length of the longest prefix of `text` of at most `max_bytes` bytes that does not split a
// character: the cut moves back while it would fall on a continuation byte.
size_t Utf8CutLength(std::string_view text, size_t max_bytes);

// The text with every byte of an invalid UTF-8 sequence and every control character except tab
// written as "\xNN", so that it can go into a line of text without breaking the line, the
// terminal or a reader that expects UTF-8. Valid characters stay as they are.
std::string EscapeUnprintable(std::string_view text);

// Splits a UTF-8 text into its characters (an invalid byte stands alone).
std::vector<std::string_view> SplitUtf8Characters(std::string_view text);

}  // namespace kavi::win
