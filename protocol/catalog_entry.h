// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace kavi::win {

// An entry of the settings application's catalogue: an id and a second field (a theme's display
// name, or a scheme's source "builtin", "downloaded" or "remote").
struct CatalogEntry {
  std::string id;
  std::string detail;

  bool operator==(const CatalogEntry&) const = default;
};

}  // namespace kavi::win
