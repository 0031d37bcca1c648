// SPDX-License-Identifier: Apache-2.0
// kavi-companion's request handling, independent of the transport: the companion protocol that
// Kavi's GKClient speaks (the unsealed handshake, sealed requests, the signed WebSocket with its
// events), the approvals that wait for the user, and the administration paths its command line
// uses (loopback only, with the admin token).
//
//   POST /v3/handshake       an app registers; answered {"tmp_id"}
//   GET  /v3/ws?sig=...      the signed WebSocket of a pairing ("tmp.") or paired ("app.") app
//   POST /v3/                sealed requests: "file_list", "app_req_account_key",
//                            "file_req_enc_data" (a code, once the user approves)
//   GET  /admin/state        pending requests, entries, paired apps (JSON)
//   POST /admin/approve, /admin/deny      body: a pending request's id
//   POST /admin/add          body: an otpauth:// URI
//   POST /admin/remove-app   body: an app id
//   POST /_test/cut-websockets   (test switches only) drops every WebSocket
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "companion/pack_value.h"
#include "service/companion_config.h"
#include "service/companion_vault.h"
#include "service/https_server.h"

namespace kavi::service {

class CompanionService {
 public:
  // The vault must be open; the service keeps it up to date on disk.
  CompanionService(CompanionConfig config, CompanionVault* vault, std::string admin_token);
  ~CompanionService();  // stops the ping thread
  CompanionService(const CompanionService&) = delete;
  CompanionService& operator=(const CompanionService&) = delete;

  HttpResponseOut Handle(const HttpRequestIn& request);
  std::shared_ptr<WebSocketSession> Accept(const HttpRequestIn& request,
                                           std::shared_ptr<WebSocketPeer> peer,
                                           HttpResponseOut* refusal);

 private:
  struct Pairing;
  struct CodeRequest;
  class Connection;

  HttpResponseOut Register(const HttpRequestIn& request);
  HttpResponseOut Sealed(const HttpRequestIn& request);
  HttpResponseOut Admin(const HttpRequestIn& request);

  // The body of the answer to one sealed request (lock held).
  win::PackValue FileList(const win::PackValue& body);
  win::PackValue AccountKeyFor(const PairedApp& app);
  win::PackValue CodeAnswer(const PairedApp& app, const win::PackValue& body,
                            const std::string& peer);

  bool Decide(const std::string& id, bool approve, std::string* error);
  bool ApprovePairing(Pairing& pairing, std::string* error);
  // Sends a pairing's decision to its temporary connections once it has one.
  void DeliverPairingResult(Pairing& pairing);
  bool AddEntry(const std::string& uri, std::string* id, std::string* error);
  bool RemoveApp(const std::string& app_id, std::string* error);
  std::string StateJson();

  // Keys of a connection id: a pairing's ("tmp.") or a paired app's ("app.").
  bool KeysOf(std::string_view connection_id, std::string* sign_public_key,
              std::string* box_public_key);
  // Seals an event for every connection of `connection_id` ("" for every paired app's).
  void Broadcast(const std::string& connection_id, std::string_view event,
                 const win::PackValue& body);
  std::string SealEvent(std::string_view event, const win::PackValue& body,
                        const std::string& box_public_key);
  void OnClientMessage(Connection* connection, const std::string& message);
  void Forget(Connection* connection);
  void PingLoop();
  // Drops code requests nobody answered in time, and pairings left unfinished (lock held).
  void ExpireRequests();

  const CompanionConfig config_;
  CompanionVault* const vault_;
  const std::string admin_token_;

  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<Pairing>> pairings_;  // by temporary id
  std::vector<std::unique_ptr<CodeRequest>> codes_;
  std::vector<std::shared_ptr<Connection>> connections_;
  uint64_t next_request_ = 1;

  std::mutex ping_mutex_;
  std::condition_variable ping_wake_;
  bool stopping_ = false;
  std::thread ping_thread_;
};

}  // namespace kavi::service
