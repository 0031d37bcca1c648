// SPDX-License-Identifier: Apache-2.0
// kavi-service as a child of the test: its own certificates, database and folders, listening on
// a free port of 127.0.0.1, with the test switches on.
#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "net/win_http_client.h"
#include "tests/common/child_process.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_certificates.h"

namespace kavi::win::testing {

class KaviServiceProcess {
 public:
  KaviServiceProcess() = default;
  ~KaviServiceProcess() { Stop(); }
  KaviServiceProcess(const KaviServiceProcess&) = delete;
  KaviServiceProcess& operator=(const KaviServiceProcess&) = delete;

  // Serves `dir` under `prefix` too (call before Start).
  void AddStaticTree(const std::string& prefix, const std::filesystem::path& dir) {
    extra_trees_ += ", {\"prefix\": \"" + prefix + "\", \"dir\": \"" + dir.string() + "\"}";
  }

  // Starts the service; `extra` is more configuration members ("\"key\": value, ...").
  // The static tree "/files" serves files_dir().
  bool Start(const std::string& extra = {}) {
    if (!MakeTestCertificates(home_.path(), &certificates_)) return false;
    std::filesystem::create_directories(files_dir());
    const std::filesystem::path config = home_.path() / "service.json";
    std::string text =
        "{\"port\": 0, \"certificate\": \"server.pem\", \"private_key\": "
        "\"server.key\", \"database\": \"cloud.sqlite3\", \"port_file\": "
        "\"port\", \"test_switches\": true, \"threads\": 2, "
        "\"static\": [{\"prefix\": \"/files\", \"dir\": \"files\"}" +
        extra_trees_ + "]";
    if (!extra.empty()) text += ", " + extra;
    WriteFile(config, text + "}");
    pid_ = SpawnChild(std::filesystem::path(KAVI_BINARY_DIR) / "bin" / "kavi-service",
                      {"--config", config.string()}, {"PATH=/usr/bin:/bin"});
    for (int i = 0; i < 3000 && pid_ > 0; ++i) {
      std::ifstream in(home_.path() / "port");
      if (in >> port_ && port_ > 0) return true;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  std::string base_url() const { return "https://127.0.0.1:" + std::to_string(port_); }
  uint16_t port() const { return static_cast<uint16_t>(port_); }
  const TestCertificates& certificates() const { return certificates_; }
  std::filesystem::path files_dir() const { return home_.path() / "files"; }
  const std::filesystem::path& home() const { return home_.path(); }

  // A client that trusts this service's certificate authority.
  HttpClientOptions ClientOptions() const {
    HttpClientOptions options;
    options.extra_ca_bundle = certificates_.ca;
    return options;
  }

  // Switches a fault on (see the service's fault switches) or, with "DELETE", all off; the
  // status of the answer.
  uint32_t Fault(const std::string& json) { return Admin("POST", "/_test/faults", json).status; }
  void ClearFaults() {
    Admin("DELETE", "/_test/faults", "");
    Admin("DELETE", "/_test/requests", "");
  }
  // The request log as JSON text.
  std::string Requests() { return Admin("GET", "/_test/requests", "").body; }

 private:
  HttpResponse Admin(const std::string& method, const std::string& path, const std::string& body) {
    WinHttpClient client(ClientOptions());
    HttpRequest request;
    request.method = method;
    request.url = base_url() + path;
    request.body = body;
    HttpResponse response;
    HttpError error;
    client.Send(request, &response, &error);
    return response;
  }

  TempDir home_;
  std::string extra_trees_;
  TestCertificates certificates_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace kavi::win::testing
