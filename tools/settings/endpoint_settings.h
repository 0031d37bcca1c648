// SPDX-License-Identifier: Apache-2.0
// The service endpoints as settings: service_base_url, companion_base_url, extra_ca_bundle and
// the companion service's two public keys.
// They live in the user's "endpoints.json" beside the two configuration files (the shipped
// defaults in the data directory fill in the keys the user has not set).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavi::win {

bool IsEndpointKey(std::string_view name);
// The user's endpoints file in a configuration directory.
std::filesystem::path UserEndpointsFile(const std::filesystem::path& config_directory);
// The effective values, in key order, as KEY and VALUE.
std::vector<std::pair<std::string, std::string>> EndpointSettings(
    const std::filesystem::path& config_directory);

}  // namespace kavi::win
