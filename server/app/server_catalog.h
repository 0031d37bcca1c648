// SPDX-License-Identifier: Apache-2.0
// The schemes and themes the settings application can choose from (request kinds 39, 40, 41).
#pragma once

#include <filesystem>

#include "ports/catalog_port.h"
#include "ports/scheme_pack_port.h"

namespace kavi::win {

class ServerCatalog : public CatalogPort {
 public:
  // packs may be null: then no scheme counts as downloaded. Installed packs' schemes are
  // listed from pack_dir.
  ServerCatalog(std::filesystem::path shared_data, std::filesystem::path user_themes,
                std::filesystem::path pack_dir, SchemePackPort* packs);

  std::vector<CatalogEntry> ListSchemes() override;
  std::vector<CatalogEntry> ListThemes() override;
  bool IsValidThemeId(const std::string& id) override;

 private:
  const std::filesystem::path shared_data_;
  const std::filesystem::path user_themes_;
  const std::filesystem::path pack_dir_;
  SchemePackPort* const packs_;
};

}  // namespace kavi::win
