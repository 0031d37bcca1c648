// SPDX-License-Identifier: Apache-2.0
#include "net/service_http.h"

#include "platform/log.h"

namespace kavi::win {

ServiceHttp::ServiceHttp(std::filesystem::path shipped_endpoints,
                         std::filesystem::path user_endpoints)
    : shipped_endpoints_(std::move(shipped_endpoints)),
      user_endpoints_(std::move(user_endpoints)) {}

ServiceEndpoints ServiceHttp::Load() const {
  std::string problems;
  ServiceEndpoints endpoints = LoadServiceEndpoints(shipped_endpoints_, user_endpoints_, &problems);
  if (!problems.empty()) LogLine("[Kavi] " + problems + "\n");
  return endpoints;
}

std::string ServiceHttp::BaseUrl() const {
  return Load().service_base_url;
}

HttpClientOptions ServiceHttp::ClientOptions() const {
  HttpClientOptions options;
  options.extra_ca_bundle = Load().extra_ca_bundle;
  return options;
}

bool ServiceHttp::Send(const HttpRequest& request, HttpResponse* response,
                       HttpError* error) const {
  const WinHttpClient http(ClientOptions());
  std::string bundle_problem;
  if (!http.ca_bundle_loaded(&bundle_problem)) LogLine("[Kavi] " + bundle_problem + "\n");
  return http.Send(request, response, error);
}

}  // namespace kavi::win
