// SPDX-License-Identifier: Apache-2.0
// The theme and scheme lists the settings application pages through (request kinds 40 and 39).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "protocol/catalog_entry.h"

namespace kavi::win {

inline constexpr char kSchemesDirName[] = "schemas";
inline constexpr char kSchemeBuildDirName[] = "build";
inline constexpr char kSchemeFileSuffix[] = ".schema.yaml";
inline constexpr char kSchemeSourceBuiltin[] = "builtin";
inline constexpr char kSchemeSourceDownloaded[] = "downloaded";
inline constexpr char kSchemeSourceRemote[] = "remote";

// The shipped catalog's ids in catalog order, then the user directory's own *.yaml themes in
// directory order; each with its display name (empty when the theme does not load).
std::vector<CatalogEntry> ListThemes(const std::filesystem::path& builtin_dir,
                                     const std::filesystem::path& user_dir);

using SchemeInstalledPredicate = std::function<bool(const std::string& scheme_id)>;

// The *.schema.yaml files of <shared_data_dir>/schemas in directory order, each with its source:
// "builtin" when <shared_data_dir>/schemas/build holds the same file, else "downloaded" when
// the pack manager reports it installed, else "remote". A null predicate means nothing is
// installed.
std::vector<CatalogEntry> ListSchemes(const std::filesystem::path& shared_data_dir,
                                      const SchemeInstalledPredicate& is_installed);
// The same, then the scheme files of the pack directory that the predicate reports installed
// and the shared data does not have, each "downloaded", in directory order.
std::vector<CatalogEntry> ListSchemes(const std::filesystem::path& shared_data_dir,
                                      const std::filesystem::path& pack_dir,
                                      const SchemeInstalledPredicate& is_installed);

}  // namespace kavi::win
