// SPDX-License-Identifier: Apache-2.0
// What the settings pages ask the server and how they read its answers: the catalogues, whether
// a service is part of the running server, and the progress of its jobs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/kavi_client.h"
#include "protocol/catalog_entry.h"
#include "tools/settings/server_link.h"

namespace kavi::win {

// Whether a page's service can be used.
enum class ServiceState {
  kServerNotRunning,  // no server answered
  kNotInBuild,        // the server refuses the service's kinds without a word: it has none
  kAvailable,
};

// A refusal with no message is what the server answers for a service it was built without; a
// service that exists and refuses says why.
ServiceState ServiceStateOf(const ServerAnswer& answer);

// The words a page shows for a state other than kAvailable.
std::string ServiceStateText(ServiceState state);

struct CatalogListing {
  bool reached = false;
  std::vector<CatalogEntry> entries;  // empty also when the server has none (a Refused reply)
};

// Every entry of a catalogue (ListCatalog: schemes with their source; ListCatalogAlt: themes
// with their display names), paging through it 16 at a time.
CatalogListing ListCatalog(KaviClient& client, RequestKind kind);

// The words for a scheme's source ("builtin", "downloaded", "remote").
std::string SchemeSourceText(const std::string& source);

// A job the server runs for the settings application: maintenance (kinds 13, 14; status 15),
// scheme packs (16, 17; status 18) and voice models (27, 28; status 26).
enum class JobFamily { kMaintenance, kSchemePack, kVoiceModel };

struct JobProgress {
  enum class Phase {
    kRunning,
    kDone,
    kFailed,
    kCancelled,
    kRefused,      // the start was refused; the message says why when the server did
    kBusy,         // another maintenance or pack job runs
    kUnreachable,  // no server
  };
  Phase phase = Phase::kRunning;
  int percent = -1;  // -1: the job does not report how far it is
  std::string message;

  bool finished() const { return phase != Phase::kRunning; }
};

// The status request of a family, and how to read its answer while a job of the family runs.
RequestKind StatusKindOf(JobFamily family);
JobProgress ReadJobStatus(JobFamily family, const ServerAnswer& status);
// How to read the answer to a job's start request: kRunning when it started.
JobProgress ReadJobStart(const ServerAnswer& start);
// The words a page shows for a progress.
std::string JobProgressText(const JobProgress& progress);

}  // namespace kavi::win
