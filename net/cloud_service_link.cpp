// SPDX-License-Identifier: Apache-2.0
#include "net/cloud_service_link.h"

namespace kavi::win {

ServiceEndpoints UserCloudEndpoints(const std::filesystem::path& user_endpoints_file,
                                    std::string* problem) {
  ServiceEndpoints endpoints;
  problem->clear();
  ApplyEndpointsFile(user_endpoints_file, &endpoints, problem);
  return endpoints;
}

CloudServiceLink::Connection::Connection(const ServiceEndpoints& endpoints)
    : http(HttpClientOptions{endpoints.extra_ca_bundle}), api(http, endpoints.service_base_url) {}

bool CloudServiceLink::Configure(const ServiceEndpoints& endpoints) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (endpoints.service_base_url.empty()) {
    connection_.reset();
  } else if (!connection_ || !(endpoints == endpoints_)) {
    connection_ = std::make_shared<const Connection>(endpoints);
  }
  endpoints_ = endpoints;
  return connection_ != nullptr;
}

bool CloudServiceLink::configured() const {
  return Current() != nullptr;
}

std::shared_ptr<const CloudServiceLink::Connection> CloudServiceLink::Current() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return connection_;
}

bool CloudServiceLink::Report(const CloudUploadBatch& batch, CloudReportResult* result,
                              std::string* error, HttpCancellation* cancellation) const {
  const auto connection = Current();
  if (!connection) {
    *error = kCloudServiceMissingMessage;
    return false;
  }
  return connection->api.Report(batch, result, error, cancellation);
}

bool CloudServiceLink::FetchHot(const std::string& stored_hash,
                                CloudSnapshot<CloudHotItem>* snapshot, std::string* error,
                                HttpCancellation* cancellation) const {
  const auto connection = Current();
  if (!connection) {
    *error = kCloudServiceMissingMessage;
    return false;
  }
  return connection->api.FetchHot(stored_hash, snapshot, error, cancellation);
}

bool CloudServiceLink::FetchBigram(const std::string& stored_hash,
                                   CloudSnapshot<CloudBigramItem>* snapshot, std::string* error,
                                   HttpCancellation* cancellation) const {
  const auto connection = Current();
  if (!connection) {
    *error = kCloudServiceMissingMessage;
    return false;
  }
  return connection->api.FetchBigram(stored_hash, snapshot, error, cancellation);
}

}  // namespace kavi::win
