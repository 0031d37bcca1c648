// SPDX-License-Identifier: Apache-2.0
// `dx<number>`: a number written in Chinese numerals and as an amount of money, lower and upper.
#pragma once

#include <string>
#include <string_view>

#include "plugins/plugin_types.h"

namespace kavi::win {

enum class NumeralTable { Lower, Upper };

// Writes a run of decimal digits (leading zeros allowed) in Chinese; with `money` the text ends
// in 元. Fails on thirteen or more significant digits.
bool ConvertChineseInteger(std::string_view digits, NumeralTable table, bool money,
                           std::string* out);

// `argument` is the text after "dx".
PluginPage ChineseNumeralPage(std::string_view argument);

}  // namespace kavi::win
