// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/scheme_packs.h"

namespace kavi::win {

PackListing ListSchemePacks(const std::filesystem::path&) {
  // The pack manifest and its reader come with the scheme pack manager; until this program is
  // built with it, there is no list of packs to offer.
  PackListing listing;
  listing.message = "此版本沒有方案包服務";
  return listing;
}

}  // namespace kavi::win
