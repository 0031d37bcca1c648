// SPDX-License-Identifier: Apache-2.0
#include "platform/window/desktop_locale.h"

#include <cstdlib>

namespace kavi::win {

std::string DesktopLocaleName() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return {};
}

}  // namespace kavi::win
