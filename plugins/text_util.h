// Small text helpers shared by the plug-in commands.
#pragma once

#include "config/json.h"  // AppendUtf8

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

using server::AppendUtf8;


// Lower-cases ASCII A to Z only.
std::string AsciiLower(std::string_view text);

bool IsAsciiDigit(char c);
bool IsAsciiAlpha(char c);

// Splits file text into lines at LF; a final LF does not start another line.
std::vector<std::string_view> SplitLines(std::string_view text);

// Splits a UTF-8 text into its characters (an invalid byte stands alone).
std::vector<std::string_view> SplitUtf8Characters(std::string_view text);

}  // namespace kavi::win
