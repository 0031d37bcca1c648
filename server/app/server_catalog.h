// SPDX-License-Identifier: Apache-2.0
// The schemes and themes the settings application can choose from (request kinds 39, 40, 41).
#pragma once

#include <filesystem>

#include "ports/catalog_port.h"
#include "ports/scheme_pack_port.h"

namespace kavi::win {

class ServerCatalog : public CatalogPort {
 public:
  // packs may be null: then no scheme counts as downloaded.
  ServerCatalog(std::filesystem::path shared_data, std::filesystem::path user_themes,
                SchemePackPort* packs);

  std::vector<CatalogEntry> ListSchemes() override;
  std::vector<CatalogEntry> ListThemes() override;
  bool IsValidThemeId(const std::string& id) override;

 private:
  const std::filesystem::path shared_data_;
  const std::filesystem::path user_themes_;
  SchemePackPort* const packs_;
};

}  // namespace kavi::win
