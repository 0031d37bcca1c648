// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/theme_choices.h"

#include "config/themes/catalog_listing.h"
#include "config/themes/theme_loader.h"
#include "platform/folders.h"

namespace kavi::win {

namespace {

constexpr char kDataDirName[] = "data";
constexpr char kThemesDirName[] = "themes";

}  // namespace

ThemeChoices::ThemeChoices(std::filesystem::path builtin_dir, std::filesystem::path user_dir)
    : builtin_dir_(std::move(builtin_dir)) {
  std::vector<std::string> shipped;
  if (!LoadThemeCatalog(builtin_dir_, &shipped, &catalogue_error_)) return;
  for (const CatalogEntry& entry : ListThemes(builtin_dir_, user_dir)) {
    CandidateStyle style;
    if (LoadTheme(builtin_dir_, user_dir, entry.id, /*dark=*/false, &style, nullptr)) {
      choices_.push_back({entry.id, entry.detail});
    }
  }
}

bool ThemeChoices::Check(std::string_view id, std::string* reason) const {
  for (const Choice& choice : choices_) {
    if (choice.id == id) return true;
  }
  *reason = "must be " + Describe();
  return false;
}

std::string ThemeChoices::Describe() const {
  if (!catalogue_error_.empty()) {
    return "a theme of the catalogue in " + builtin_dir_.string() + ", which cannot be read (" +
           catalogue_error_ + ")";
  }
  std::string text;
  for (const Choice& choice : choices_) {
    if (!text.empty()) text += " | ";
    text += choice.id;
    if (!choice.name.empty()) text += " " + choice.name;
  }
  return text;
}

std::filesystem::path InstalledThemesDirectory() {
  return ShippedFilesFolder() / kDataDirName / kThemesDirName;
}

std::filesystem::path UserThemesDirectory(const std::filesystem::path& config_directory) {
  return config_directory / kThemesDirName;
}

}  // namespace kavi::win
