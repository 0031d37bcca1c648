// SPDX-License-Identifier: Apache-2.0
// The locale the desktop session runs in.
#pragma once

#include <string>

namespace kavi::win {

// The name of the session's character-type locale ("zh_HK.UTF-8"), from LC_ALL, LC_CTYPE or
// LANG in that order; empty when none is set.
std::string DesktopLocaleName();

}  // namespace kavi::win
