// SPDX-License-Identifier: Apache-2.0
#include "config/themes/catalog_listing.h"

#include <algorithm>

#include "config/themes/theme_loader.h"
#include "platform/log.h"

namespace kavi::win {

namespace {

bool EndsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Regular files of a directory in the order the directory yields them; none when it is missing.
std::vector<std::string> RegularFileNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator it(dir, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    std::error_code type_error;
    if (it->is_regular_file(type_error)) names.push_back(it->path().filename().string());
  }
  return names;
}

}  // namespace

std::vector<CatalogEntry> ListThemes(const std::filesystem::path& builtin_dir,
                                     const std::filesystem::path& user_dir) {
  std::vector<std::string> ids;
  std::vector<std::string> shipped;
  if (LoadThemeCatalog(builtin_dir, &shipped, nullptr)) ids = shipped;
  if (!user_dir.empty()) {
    for (const std::string& name : RegularFileNames(user_dir)) {
      if (!EndsWith(name, kThemeFileExtension)) continue;
      std::string id = name.substr(0, name.size() - std::string_view(kThemeFileExtension).size());
      if (!IsValidThemeId(id)) continue;
      if (std::find(shipped.begin(), shipped.end(), id) != shipped.end()) {
        LogLine("[Kavi] 自訂主題 '" + id + "' 與內建主題 id 相同，附加目錄時略過\n");
        continue;
      }
      if (std::find(ids.begin(), ids.end(), id) != ids.end()) continue;
      ids.push_back(std::move(id));
    }
  }
  std::vector<CatalogEntry> entries;
  entries.reserve(ids.size());
  for (std::string& id : ids) {
    CandidateStyle style;
    std::string name;
    if (LoadTheme(builtin_dir, user_dir, id, /*dark=*/false, &style, nullptr)) {
      name = style.display_name;
    }
    entries.push_back({std::move(id), std::move(name)});
  }
  return entries;
}

std::vector<CatalogEntry> ListSchemes(const std::filesystem::path& shared_data_dir,
                                      const SchemeInstalledPredicate& is_installed) {
  const std::filesystem::path schemes_dir = shared_data_dir / kSchemesDirName;
  const std::string_view suffix = kSchemeFileSuffix;
  std::vector<CatalogEntry> entries;
  for (const std::string& name : RegularFileNames(schemes_dir)) {
    if (name.size() <= suffix.size() || !EndsWith(name, suffix)) continue;
    std::string id = name.substr(0, name.size() - suffix.size());
    std::error_code error;
    const char* source = kSchemeSourceRemote;
    if (std::filesystem::is_regular_file(schemes_dir / kSchemeBuildDirName / name, error)) {
      source = kSchemeSourceBuiltin;
    } else if (is_installed && is_installed(id)) {
      source = kSchemeSourceDownloaded;
    }
    entries.push_back({std::move(id), source});
  }
  return entries;
}

std::vector<CatalogEntry> ListSchemes(const std::filesystem::path& shared_data_dir,
                                      const std::filesystem::path& pack_dir,
                                      const SchemeInstalledPredicate& is_installed) {
  std::vector<CatalogEntry> entries = ListSchemes(shared_data_dir, is_installed);
  if (!is_installed) return entries;
  const std::string_view suffix = kSchemeFileSuffix;
  for (const std::string& name : RegularFileNames(pack_dir)) {
    if (name.size() <= suffix.size() || !EndsWith(name, suffix)) continue;
    std::string id = name.substr(0, name.size() - suffix.size());
    const bool listed = std::any_of(entries.begin(), entries.end(),
                                    [&](const CatalogEntry& entry) { return entry.id == id; });
    if (!listed && is_installed(id)) entries.push_back({std::move(id), kSchemeSourceDownloaded});
  }
  return entries;
}

}  // namespace kavi::win
