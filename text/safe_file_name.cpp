// SPDX-License-Identifier: Apache-2.0
#include "text/safe_file_name.h"

#include <array>

namespace kavi::win {
namespace {

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsFolded(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (Upper(text[i]) != upper[i]) return false;
  return true;
}

// Device names that a file name must not begin with, on the systems that have them: a pack made
// on one system must install on every other.
bool IsReservedDeviceName(std::string_view stem) {
  constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  for (std::string_view name : kPlain)
    if (EqualsFolded(stem, name)) return true;
  if (stem.size() != 4 || stem[3] < '1' || stem[3] > '9') return false;
  return EqualsFolded(stem.substr(0, 3), "COM") || EqualsFolded(stem.substr(0, 3), "LPT");
}

bool AllowedByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

}  // namespace

bool IsSafeFileName(std::string_view name) {
  if (name.empty() || name.size() > kMaxSafeFileNameBytes) return false;
  if (name.front() == '.' || name.back() == '.') return false;
  if (name.find("..") != std::string_view::npos) return false;
  if (name.ends_with(".complete") || name.ends_with(".part")) return false;
  for (char c : name)
    if (!AllowedByte(c)) return false;
  return !IsReservedDeviceName(name.substr(0, name.find('.')));
}

}  // namespace kavi::win
