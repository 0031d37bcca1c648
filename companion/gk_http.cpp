// SPDX-License-Identifier: Apache-2.0
#include "companion/gk_http.h"

#include "net/http_types.h"
#include "platform/log.h"

namespace kavi::win {
namespace {

constexpr char kOctetStream[] = "application/octet-stream";
constexpr uint32_t kResolveTimeoutMs = 5000;
constexpr uint32_t kConnectTimeoutMs = 5000;
constexpr uint32_t kSendTimeoutMs = 15000;
constexpr uint32_t kReceiveTimeoutMs = 15000;

std::string Describe(const HttpError& error) {
  if (!error.message.empty()) return error.message;
  return error.stage + " " + std::to_string(error.code);
}

}  // namespace

std::shared_ptr<const WinHttpClient> GkHttp::ClientFor(
    const std::filesystem::path& extra_ca_bundle) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!client_ || bundle_ != extra_ca_bundle) {
    HttpClientOptions options;
    options.extra_ca_bundle = extra_ca_bundle;
    auto client = std::make_shared<const WinHttpClient>(options);
    std::string problem;
    if (!client->ca_bundle_loaded(&problem)) LogLine("[Kavi] " + problem + "\n");
    client_ = std::move(client);
    bundle_ = extra_ca_bundle;
  }
  return client_;
}

bool GkHttp::Post(const std::string& base_url, const std::filesystem::path& extra_ca_bundle,
                  std::string_view path, std::string body, std::string* reply, std::string* error,
                  HttpCancellation* cancellation) {
  reply->clear();
  HttpRequest request;
  request.method = "POST";
  request.url = base_url + kGkApiPrefix + std::string(path);
  request.headers = {{"Accept", kOctetStream}, {"Content-Type", kOctetStream}};
  request.body = std::move(body);
  request.resolve_timeout_ms = kResolveTimeoutMs;
  request.connect_timeout_ms = kConnectTimeoutMs;
  request.send_timeout_ms = kSendTimeoutMs;
  request.receive_timeout_ms = kReceiveTimeoutMs;
  request.cancellation = cancellation;
  HttpResponse response;
  HttpError failure;
  if (!ClientFor(extra_ca_bundle)->Send(request, &response, &failure)) {
    *error = kGkNetworkErrorPrefix + Describe(failure);
    return false;
  }
  if (response.status < 200 || response.status > 299) {
    *error = kGkHttpStatusPrefix + std::to_string(response.status);
    return false;
  }
  *reply = std::move(response.body);
  error->clear();
  return true;
}

}  // namespace kavi::win
