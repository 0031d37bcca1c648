// SPDX-License-Identifier: Apache-2.0
#include "server/app/server_catalog.h"

#include "config/themes/catalog_listing.h"
#include "config/themes/theme_loader.h"

namespace kavi::win {

ServerCatalog::ServerCatalog(std::filesystem::path shared_data, std::filesystem::path user_themes,
                             std::filesystem::path pack_dir, SchemePackPort* packs)
    : shared_data_(std::move(shared_data)),
      user_themes_(std::move(user_themes)),
      pack_dir_(std::move(pack_dir)),
      packs_(packs) {}

std::vector<CatalogEntry> ServerCatalog::ListSchemes() {
  SchemeInstalledPredicate installed;
  if (packs_) installed = [this](const std::string& id) { return packs_->IsInstalled(id); };
  return kavi::win::ListSchemes(shared_data_, pack_dir_, installed);
}

std::vector<CatalogEntry> ServerCatalog::ListThemes() {
  return kavi::win::ListThemes(shared_data_ / "themes", user_themes_);
}

bool ServerCatalog::IsValidThemeId(const std::string& id) {
  return kavi::win::IsValidThemeId(id);
}

}  // namespace kavi::win
