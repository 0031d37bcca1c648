// SPDX-License-Identifier: Apache-2.0
// `U<hex>`: the character of a code point and the sixteen that follow its value times 16.
#pragma once

#include <string_view>

#include "plugins/plugin_types.h"

namespace kavi::win {

// `argument` is the text after the capital U, as typed.
PluginPage CodePointPage(std::string_view argument);

}  // namespace kavi::win
