// SPDX-License-Identifier: Apache-2.0
// The cloud input manager's road to Kavi's service. Cloud words go only to a service the user
// named in their own endpoints file: the shipped default (a service on the same machine) serves
// translation, but what the user types leaves for no service they did not choose.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "net/kavi_api_client.h"
#include "net/service_endpoints.h"

namespace kavi::win {

inline constexpr char kCloudServiceMissingMessage[] = "未設定 Kavi 服務地址";

// The service URL and CA bundle of the user's endpoints file alone; empty URL when they named
// none. `problem` says why the file was skipped, when it was.
ServiceEndpoints UserCloudEndpoints(const std::filesystem::path& user_endpoints_file,
                                    std::string* problem);

class CloudServiceLink {
 public:
  // Points the link at `endpoints`; an empty URL leaves it without a service. True when a service
  // is named.
  bool Configure(const ServiceEndpoints& endpoints);
  bool configured() const;

  // KaviApiClient's calls on the configured service; without one they fail with
  // kCloudServiceMissingMessage. Safe to call while another thread configures.
  bool Report(const CloudUploadBatch& batch, CloudReportResult* result, std::string* error,
              HttpCancellation* cancellation) const;
  bool FetchHot(const std::string& stored_hash, CloudSnapshot<CloudHotItem>* snapshot,
                std::string* error, HttpCancellation* cancellation) const;
  bool FetchBigram(const std::string& stored_hash, CloudSnapshot<CloudBigramItem>* snapshot,
                   std::string* error, HttpCancellation* cancellation) const;

 private:
  // One client per configuration; a call keeps the one it started with.
  struct Connection {
    explicit Connection(const ServiceEndpoints& endpoints);
    WinHttpClient http;
    KaviApiClient api;
  };
  std::shared_ptr<const Connection> Current() const;

  mutable std::mutex mutex_;
  ServiceEndpoints endpoints_;
  std::shared_ptr<const Connection> connection_;
};

}  // namespace kavi::win
