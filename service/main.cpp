// SPDX-License-Identifier: Apache-2.0
// kavi-service: Kavi's own HTTPS service, for people who host it themselves. Cloud words,
// translation, voice polish, and the voice model, scheme pack and update trees.
#include <iostream>
#include <string>

#include "platform/file_replace.h"
#include "platform/log.h"
#include "platform/signal_watcher.h"
#include "service/https_server.h"
#include "service/kavi_service.h"
#include "service/service_config.h"

namespace {

constexpr char kUsage[] =
    "usage: kavi-service --config FILE\n"
    "  FILE is the JSON configuration (README: \"Running kavi-service yourself\").\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace kavi;
  win::SignalWatcher::BlockSignals();
  std::string config_path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--config" && i + 1 < argc) {
      config_path = argv[++i];
    } else if (arg.starts_with("--config=")) {
      config_path = arg.substr(9);
    } else {
      std::cerr << kUsage;
      return arg == "--help" ? 0 : 2;
    }
  }
  if (config_path.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  service::ServiceConfig config;
  std::string error;
  if (!service::LoadServiceConfig(config_path, &config, &error)) {
    std::cerr << "kavi-service: " << error << "\n";
    return 1;
  }
  service::KaviService handler;
  if (!handler.Open(config, &error)) {
    std::cerr << "kavi-service: " << error << "\n";
    return 1;
  }
  service::HttpsServerOptions options;
  options.address = config.listen;
  options.port = config.port;
  options.certificate_chain = config.certificate;
  options.private_key = config.private_key;
  options.threads = config.threads;
  service::HttpsServer server;
  if (!server.Start(
          options,
          [&handler](const service::HttpRequestIn& request) { return handler.Handle(request); },
          &error)) {
    std::cerr << "kavi-service: " << error << "\n";
    return 1;
  }
  if (!config.port_file.empty()) {
    win::ReplaceFailure failure;
    if (!win::ReplaceFile(config.port_file, std::to_string(server.port()) + "\n",
                          std::filesystem::perms(0644), &failure)) {
      std::cerr << "kavi-service: cannot write " << config.port_file << "\n";
      return 1;
    }
  }
  win::LogLine("[kavi-service] listening on " + config.listen + ":" +
               std::to_string(server.port()) + "\n");
  win::SignalWatcher signals([&server] { server.Stop(); });
  server.Wait();
  win::LogLine("[kavi-service] stopped\n");
  return 0;
}
