// SPDX-License-Identifier: Apache-2.0
// One of the narrow interfaces through which client sessions reach the process-wide services.
// The service implements it; a missing service is a null pointer, and the request kinds that
// need it are refused.
#pragma once

#include <string>
#include <vector>

#include "protocol/catalog_entry.h"

namespace kavi::win {

class CatalogPort {
 public:
  virtual ~CatalogPort() = default;
  virtual std::vector<CatalogEntry> ListSchemes() = 0;
  virtual std::vector<CatalogEntry> ListThemes() = 0;
  virtual bool IsValidThemeId(const std::string& id) = 0;
};

}  // namespace kavi::win
