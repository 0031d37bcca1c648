// SPDX-License-Identifier: Apache-2.0
// Small text helpers shared by the plug-in commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/utf8.h"

namespace kavi::win {

// Lower-cases ASCII A to Z only.
std::string AsciiLower(std::string_view text);

bool IsAsciiDigit(char c);
bool IsAsciiAlpha(char c);

// Splits file text into lines at LF; a final LF does not start another line.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace kavi::win
