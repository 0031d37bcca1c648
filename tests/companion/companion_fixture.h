// SPDX-License-Identifier: Apache-2.0
// kavi-companion's service in this test's own process, on a loopback HTTPS port with a CA made at
// run time, and a GKClient store in a private folder: the companion client's tests speak to a
// real companion over real sockets.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "companion/dpapi_store.h"
#include "companion/gk_client.h"
#include "service/companion_service.h"
#include "service/https_server.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_certificates.h"

namespace kavi::win::testing {

inline constexpr char kAdminToken[] = "test-admin-token";

class InProcessCompanion {
 public:
  explicit InProcessCompanion(service::CompanionConfig config = {}) {
    std::string error;
    EXPECT_TRUE(MakeTestCertificates(dir_.path(), &certificates_));
    service::VaultContents contents;
    EXPECT_TRUE(service::CompanionVault::Fresh("tester", &contents, &error));
    EXPECT_TRUE(vault_.Create(dir_.path() / "vault.bin", "passphrase",
                              service::KdfStrength::kInteractive, std::move(contents), &error))
        << error;
    config.test_switches = true;
    service_ = std::make_unique<service::CompanionService>(config, &vault_, kAdminToken);
    server_ = std::make_unique<service::HttpsServer>();
    server_->SetWebSocketHandler([this](const service::HttpRequestIn& request,
                                        std::shared_ptr<service::WebSocketPeer> peer,
                                        service::HttpResponseOut* refusal) {
      return service_->Accept(request, std::move(peer), refusal);
    });
    service::HttpsServerOptions options;
    options.certificate_chain = certificates_.chain;
    options.private_key = certificates_.private_key;
    EXPECT_TRUE(server_->Start(
        options,
        [this](const service::HttpRequestIn& request) {
          if (intercept_) {
            if (auto answer = intercept_(request)) return *answer;
          }
          return service_->Handle(request);
        },
        &error))
        << error;
  }
  ~InProcessCompanion() { server_.reset(); }

  service::HttpResponseOut Send(const service::HttpRequestIn& request) {
    return service_->Handle(request);
  }
  uint16_t port() const { return server_->port(); }
  const TestCertificates& certificates() const { return certificates_; }

  // The administration paths, as the command line calls them.
  service::HttpResponseOut Admin(const std::string& path, const std::string& body = {},
                                 const std::string& method = "POST") {
    service::HttpRequestIn request;
    request.method = method;
    request.path = path;
    request.body = body;
    request.peer = "127.0.0.1";
    request.headers = {{"Authorization", std::string("Bearer ") + kAdminToken}};
    return service_->Handle(request);
  }
  // The id of the only pending request (empty when none).
  std::string Pending() {
    const std::string state = Admin("/admin/state", "", "GET").body;
    const size_t at = state.find("\"id\":\"", state.find("\"pending\""));
    const size_t pending_end = state.find(']', state.find("\"pending\""));
    if (at == std::string::npos || at > pending_end) return {};
    return state.substr(at + 6, state.find('"', at + 6) - at - 6);
  }
  std::string WaitForPending(int timeout_ms = 20000) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
      if (std::string id = Pending(); !id.empty()) return id;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
  }

  GkEndpoints Endpoints() const {
    GkEndpoints endpoints;
    endpoints.base_url = "https://127.0.0.1:" + std::to_string(server_->port());
    endpoints.service_keys = {vault_.contents().service_box.public_key,
                              vault_.contents().service_sign.public_key};
    endpoints.extra_ca_bundle = certificates_.ca;
    return endpoints;
  }
  GkEndpointsSource Source() const {
    const GkEndpoints endpoints = Endpoints();
    return [endpoints](GkEndpoints* out, std::string*) {
      *out = endpoints;
      return true;
    };
  }

  const service::VaultContents& contents() const { return vault_.contents(); }
  // Lets a test answer a request itself (or hold it); nullopt passes it on.
  std::function<std::optional<service::HttpResponseOut>(const service::HttpRequestIn&)> intercept_;

 private:
  TempDir dir_;
  TestCertificates certificates_;
  service::CompanionVault vault_;
  std::unique_ptr<service::CompanionService> service_;
  std::unique_ptr<service::HttpsServer> server_;
};

// A store of its own for a client.
class ClientStore {
 public:
  DpapiStore Store() const { return DpapiStore(dir_.path() / "gk", dir_.path() / "master.key"); }

 private:
  TempDir dir_;
};

}  // namespace kavi::win::testing
