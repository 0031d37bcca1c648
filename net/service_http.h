// SPDX-License-Identifier: Apache-2.0
// Requests to Kavi's service as the endpoints files name it (service_endpoints.h). The files
// are read at each request, so a changed service URL or CA bundle takes effect at the next
// request without restarting the server.
#pragma once

#include <filesystem>
#include <string>

#include "net/service_endpoints.h"
#include "net/win_http_client.h"

namespace kavi::win {

class ServiceHttp {
 public:
  // The shipped and the user's endpoints files.
  ServiceHttp(std::filesystem::path shipped_endpoints, std::filesystem::path user_endpoints);

  // The service base URL; empty when none is configured.
  std::string BaseUrl() const;
  // The client options the service needs (its extra CA bundle).
  HttpClientOptions ClientOptions() const;
  // One exchange through a client with those options (WinHttpClient::Send).
  bool Send(const HttpRequest& request, HttpResponse* response, HttpError* error) const;

 private:
  ServiceEndpoints Load() const;

  const std::filesystem::path shipped_endpoints_;
  const std::filesystem::path user_endpoints_;
};

}  // namespace kavi::win
