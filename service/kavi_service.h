// SPDX-License-Identifier: Apache-2.0
// kavi-service's request handling: which path goes to which part (cloud words, translation,
// voice polish, static trees, and the test switches), independent of the transport.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "service/cloud_store.h"
#include "service/cloud_words.h"
#include "service/dictionary.h"
#include "service/fault_switches.h"
#include "service/https_server.h"
#include "service/scheme_pack_catalog.h"
#include "service/service_config.h"
#include "service/translation.h"

namespace kavi::service {

class KaviService {
 public:
  // Opens the store and loads the dictionary; false with a message when either fails.
  bool Open(const ServiceConfig& config, std::string* error);
  HttpResponseOut Handle(const HttpRequestIn& request);

 private:
  struct CachedSnapshot {
    uint64_t generation = 0;
    std::chrono::steady_clock::time_point computed;
    SnapshotBody body;
  };
  HttpResponseOut Report(const HttpRequestIn& request);
  HttpResponseOut Snapshot(const HttpRequestIn& request, bool hot);
  HttpResponseOut Polish(const HttpRequestIn& request);
  HttpResponseOut Static(const HttpRequestIn& request, bool ignore_range);
  HttpResponseOut PackManifest(const HttpRequestIn& request);
  HttpResponseOut TestSwitch(const HttpRequestIn& request);
  HttpResponseOut Route(const HttpRequestIn& request, bool ignore_range);

  ServiceConfig config_;
  std::unique_ptr<CloudStore> store_;
  std::unique_ptr<Dictionary> dictionary_;
  std::unique_ptr<Translator> translator_;
  std::unique_ptr<ReportRateLimit> rate_limit_;
  std::unique_ptr<SchemePackCatalog> scheme_packs_;
  std::mutex snapshot_mutex_;
  CachedSnapshot hot_, bigram_;
  FaultSwitches faults_;
  RequestLog log_;
};

}  // namespace kavi::service
