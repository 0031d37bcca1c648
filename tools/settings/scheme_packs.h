// SPDX-License-Identifier: Apache-2.0
// The scheme packs the packs page offers: the packs of the service's manifest, each installed
// or not. Installing and removing go through the server (request kinds 16 and 17, followed with
// 18 and cancelled with 44).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kavi::win {

struct SchemePack {
  std::string id;
  std::string display_name;
  uint64_t bytes = 0;
  bool installed = false;
};

struct PackListing {
  // False when this build cannot read the service's pack manifest: the page says so and offers
  // nothing to install.
  bool available = false;
  std::vector<SchemePack> packs;
  std::string message;  // why the list is empty or could not be read
};

// Blocks on the network when the manifest is fetched: call it off the window's thread.
PackListing ListSchemePacks(const std::filesystem::path& config_directory);

}  // namespace kavi::win
