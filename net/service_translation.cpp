// SPDX-License-Identifier: Apache-2.0
#include "net/service_translation.h"

#include "net/kavi_api_client.h"
#include "net/service_endpoints.h"
#include "platform/log.h"

namespace kavi::win {

ServiceTranslation::ServiceTranslation(std::filesystem::path shipped_endpoints,
                                       std::filesystem::path user_endpoints)
    : shipped_endpoints_(std::move(shipped_endpoints)),
      user_endpoints_(std::move(user_endpoints)) {}

bool ServiceTranslation::Translate(const std::string& text, const std::string& target,
                                   std::string* translation, std::string* error,
                                   HttpCancellation* cancellation) {
  std::string problems;
  const ServiceEndpoints endpoints =
      LoadServiceEndpoints(shipped_endpoints_, user_endpoints_, &problems);
  if (!problems.empty()) LogLine("[Kavi] " + problems + "\n");
  if (endpoints.service_base_url.empty()) {
    *error = kServiceNotConfiguredMessage;
    return false;
  }
  HttpClientOptions options;
  options.extra_ca_bundle = endpoints.extra_ca_bundle;
  const WinHttpClient http(options);
  std::string bundle_problem;
  if (!http.ca_bundle_loaded(&bundle_problem)) LogLine("[Kavi] " + bundle_problem + "\n");
  const KaviApiClient api(http, endpoints.service_base_url);
  return api.Translate(text, "to", target, translation, error, cancellation);
}

}  // namespace kavi::win
