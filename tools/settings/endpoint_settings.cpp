// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/endpoint_settings.h"

#include "net/service_endpoints.h"
#include "platform/folders.h"

namespace kavi::win {

bool IsEndpointKey(std::string_view name) {
  return name == kServiceBaseUrlKey || name == kCompanionBaseUrlKey || name == kExtraCaBundleKey ||
         name == kCompanionBoxKeyKey || name == kCompanionSignKeyKey;
}

std::filesystem::path UserEndpointsFile(const std::filesystem::path& config_directory) {
  return config_directory / kEndpointsFileName;
}

std::vector<std::pair<std::string, std::string>> EndpointSettings(
    const std::filesystem::path& config_directory) {
  std::string problems;
  const ServiceEndpoints endpoints =
      LoadServiceEndpoints(ShippedFilesFolder() / "data" / kEndpointsFileName,
                           UserEndpointsFile(config_directory), &problems);
  return {{kServiceBaseUrlKey, endpoints.service_base_url},
          {kCompanionBaseUrlKey, endpoints.companion_base_url},
          {kExtraCaBundleKey, endpoints.extra_ca_bundle.string()},
          {kCompanionBoxKeyKey, endpoints.companion_box_public_key},
          {kCompanionSignKeyKey, endpoints.companion_sign_public_key}};
}

}  // namespace kavi::win
