// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/scheme_names.h"

#include <yaml-cpp/yaml.h>

#include "config/themes/catalog_listing.h"
#include "platform/file_read.h"
#include "platform/folders.h"

namespace kavi::win {

namespace {

constexpr char kDataDirName[] = "data";
// Scheme files are small; a larger one is not read for its name.
constexpr uintmax_t kMaxSchemeFileBytes = 1 << 20;
constexpr size_t kMaxNameBytes = 128;

}  // namespace

std::filesystem::path InstalledSchemesDirectory() {
  return ShippedFilesFolder() / kDataDirName / kSchemesDirName;
}

std::string SchemeDisplayName(const std::filesystem::path& schemas_dir, const std::string& id) {
  std::string text;
  if (ReadRegularFile(schemas_dir / (id + kSchemeFileSuffix), kMaxSchemeFileBytes, &text) !=
      ReadFileResult::kRead)
    return id;
  try {
    const YAML::Node name = YAML::Load(text)["schema"]["name"];
    if (name.IsScalar() && !name.Scalar().empty() && name.Scalar().size() <= kMaxNameBytes)
      return name.Scalar();
  } catch (const YAML::Exception&) {
  }
  return id;
}

}  // namespace kavi::win
