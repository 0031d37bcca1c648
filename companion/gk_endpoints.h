// SPDX-License-Identifier: Apache-2.0
// The companion service's address and public keys as the endpoints files give them (the shipped
// defaults, then the user's overrides), read afresh at each use.
#pragma once

#include <filesystem>

#include "companion/gk_client.h"

namespace kavi::win {

GkEndpointsSource GkEndpointsFromFiles(std::filesystem::path shipped_file,
                                       std::filesystem::path user_file);

}  // namespace kavi::win
