// SPDX-License-Identifier: Apache-2.0
#include "service/companion_service.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>

#include "companion/crypto.h"
#include "companion/gk_connection.h"
#include "companion/gk_events.h"
#include "companion/gks_envelope.h"
#include "companion/pack_codec.h"
#include "companion/two_factor_list.h"
#include "config/json.h"
#include "platform/log.h"
#include "text/hex.h"

namespace kavi::service {
namespace {

using win::JsonValue;
using win::PackValue;
namespace json = win::server;
using Clock = std::chrono::steady_clock;

constexpr int64_t kMaxClockSkewSeconds = 300;
constexpr auto kPairingLifetime = std::chrono::minutes(10);
constexpr char kTwoFactorScope[] = "2fa";
constexpr char kLog[] = "[kavi-companion] ";

int64_t UnixSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool IsLoopback(const std::string& address) {
  return address.starts_with("127.") || address == "::1" || address.starts_with("::ffff:127.");
}

HttpResponseOut Binary(std::string body) {
  HttpResponseOut out;
  out.status = 200;
  out.headers.emplace_back("Content-Type", "application/octet-stream");
  out.body = std::move(body);
  return out;
}

HttpResponseOut JsonAnswer(unsigned status, JsonValue value) {
  return HttpResponseOut::Json(status, json::SerializeJson(value) + "\n");
}

HttpResponseOut JsonError(unsigned status, const std::string& message) {
  return JsonAnswer(status, json::MakeJsonObject({{"error", json::MakeJsonString(message)}}));
}

const PackValue* Member(const PackValue& map, std::string_view key, win::PackKind kind) {
  const PackValue* value = map.Find(key);
  return value != nullptr && value->kind() == kind ? value : nullptr;
}

// Compared without subtracting from `sent`: a timestamp near the ends of the range must not
// overflow into a fresh one.
bool WithinClockSkew(int64_t sent) {
  const int64_t now = UnixSeconds();
  return sent >= now - kMaxClockSkewSeconds && sent <= now + kMaxClockSkewSeconds;
}

bool TimestampFresh(const PackValue& header) {
  const PackValue* ts = header.Find(win::kTimestampKey);
  if (ts == nullptr) return false;
  if (ts->is_int()) return WithinClockSkew(ts->int_value());
  return ts->is_uint() &&
         ts->uint_value() <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) &&
         WithinClockSkew(static_cast<int64_t>(ts->uint_value()));
}

std::string Describe(const CompanionEntry& entry) {
  return entry.account.empty() ? entry.issuer : entry.issuer + " (" + entry.account + ")";
}

}  // namespace

struct CompanionService::Pairing {
  enum class Decision { kPending, kApproved, kDenied };
  std::string request_id;
  std::string tmp_id;
  std::string name;
  std::string sign_public_key;
  std::string box_public_key;
  std::string peer;
  Clock::time_point created;
  Decision decision = Decision::kPending;
  PackValue result;  // the "app_auth_result" body, once decided
};

struct CompanionService::CodeRequest {
  enum class State { kPending, kApproved, kDenied };
  std::string request_id;
  std::string app_id;
  std::string app_name;
  std::string entry_id;
  std::string peer;
  Clock::time_point created;
  State state = State::kPending;
};

class CompanionService::Connection final : public WebSocketSession {
 public:
  Connection(CompanionService* service, std::string id, std::string box_public_key,
             std::shared_ptr<WebSocketPeer> peer)
      : id(std::move(id)),
        box_public_key(std::move(box_public_key)),
        peer(std::move(peer)),
        service_(service) {}

  void OnMessage(const std::string& message) override { service_->OnClientMessage(this, message); }
  void OnClose() override { service_->Forget(this); }

  const std::string id;
  const std::string box_public_key;
  const std::shared_ptr<WebSocketPeer> peer;

 private:
  CompanionService* const service_;
};

CompanionService::CompanionService(CompanionConfig config, CompanionVault* vault,
                                   std::string admin_token)
    : config_(std::move(config)), vault_(vault), admin_token_(std::move(admin_token)) {
  ping_thread_ = std::thread([this] { PingLoop(); });
}

CompanionService::~CompanionService() {
  {
    std::lock_guard<std::mutex> hold(ping_mutex_);
    stopping_ = true;
  }
  ping_wake_.notify_all();
  ping_thread_.join();
}

// ---- Keys and events --------------------------------------------------------------------------

bool CompanionService::KeysOf(std::string_view connection_id, std::string* sign_public_key,
                              std::string* box_public_key) {
  if (win::IsPairingConnectionId(connection_id)) {
    auto found = pairings_.find(std::string(connection_id.substr(4)));
    if (found == pairings_.end()) return false;
    *sign_public_key = found->second->sign_public_key;
    *box_public_key = found->second->box_public_key;
    return true;
  }
  if (win::IsPairedConnectionId(connection_id)) {
    for (const PairedApp& app : vault_->contents().apps) {
      if (connection_id.substr(4) == app.app_id) {
        *sign_public_key = app.sign_public_key;
        *box_public_key = app.box_public_key;
        return true;
      }
    }
  }
  return false;
}

std::string CompanionService::SealEvent(std::string_view event, const PackValue& body,
                                        const std::string& box_public_key) {
  std::string sealed, error;
  const VaultContents& v = vault_->contents();
  if (!win::SealResponse(event, body, {}, v.service_sign, v.service_box.secret_key, box_public_key,
                         UnixSeconds(), &sealed, &error))
    win::LogLine(kLog + std::string("cannot seal an event: ") + error + "\n");
  return sealed;
}

void CompanionService::Broadcast(const std::string& connection_id, std::string_view event,
                                 const PackValue& body) {
  for (const std::shared_ptr<Connection>& c : connections_) {
    const bool addressed =
        connection_id.empty() ? win::IsPairedConnectionId(c->id) : c->id == connection_id;
    if (addressed) c->peer->Send(SealEvent(event, body, c->box_public_key));
  }
}

// ---- HTTP -------------------------------------------------------------------------------------

HttpResponseOut CompanionService::Handle(const HttpRequestIn& request) {
  if (request.path.starts_with("/admin/") ||
      (config_.test_switches && request.path.starts_with("/_test/")))
    return Admin(request);
  if (request.method != "POST") return HttpResponseOut::Text(405, "POST only\n");
  if (request.path == "/v3/handshake") return Register(request);
  if (request.path == "/v3/") return Sealed(request);
  return HttpResponseOut::Text(404, "not found\n");
}

HttpResponseOut CompanionService::Register(const HttpRequestIn& request) {
  PackValue payload;
  std::string error;
  if (!win::PackDecode(request.body, &payload, &error))
    return HttpResponseOut::Text(400, error + "\n");
  const PackValue* ap = Member(payload, "ap", win::PackKind::kBool);
  const PackValue* name = Member(payload, "name", win::PackKind::kString);
  const PackValue* sign = Member(payload, "sign_pk", win::PackKind::kBinary);
  const PackValue* box = Member(payload, "enc_pk", win::PackKind::kBinary);
  const PackValue* scopes = Member(payload, "requested_scopes", win::PackKind::kArray);
  const bool wants_2fa =
      scopes != nullptr && std::ranges::any_of(scopes->items(), [](const PackValue& s) {
        return s.is_string() && s.bytes() == kTwoFactorScope;
      });
  if (ap == nullptr || !ap->boolean() || name == nullptr || sign == nullptr ||
      sign->bytes().size() != win::kSignPublicKeyBytes || box == nullptr ||
      box->bytes().size() != win::kBoxPublicKeyBytes || !wants_2fa)
    return HttpResponseOut::Text(400, "not an app registration\n");

  auto pairing = std::make_unique<Pairing>();
  pairing->tmp_id = win::Base64Url(win::RandomBytes(18));
  pairing->name = std::string(name->bytes()).substr(0, 64);
  pairing->sign_public_key = sign->bytes();
  pairing->box_public_key = box->bytes();
  pairing->peer = request.peer;
  pairing->created = Clock::now();
  const std::string tmp_id = pairing->tmp_id;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    pairing->request_id = "pair-" + std::to_string(next_request_++);
    Pairing& added = *pairings_.emplace(tmp_id, std::move(pairing)).first->second;
    win::LogLine(kLog + added.request_id + ": \"" + added.name + "\" from " + added.peer +
                 " asks to pair\n");
    const ApprovalPolicy policy = config_.pairing_policy;
    if (policy == ApprovalPolicy::kDeny ||
        (policy == ApprovalPolicy::kApproveLocal && IsLoopback(added.peer))) {
      std::string decision_error;
      Decide(added.request_id, policy != ApprovalPolicy::kDeny, &decision_error);
    }
  }
  return Binary(win::PackEncode(PackValue::Map({{"tmp_id", PackValue::String(tmp_id)}})));
}

HttpResponseOut CompanionService::Sealed(const HttpRequestIn& request) {
  std::lock_guard<std::mutex> hold(mutex_);
  win::GksRequest sealed;
  std::string error;
  const win::GksAppKeyLookup lookup = [this](std::string_view id, std::string* sign,
                                             std::string* box) { return KeysOf(id, sign, box); };
  if (!win::OpenRequest(request.body, lookup, vault_->contents().service_box.secret_key, &sealed,
                        &error))
    return HttpResponseOut::Text(error == win::kUnknownGksSender ? 403 : 400, error + "\n");
  if (!TimestampFresh(sealed.header)) return HttpResponseOut::Text(401, "stale request\n");
  if (!win::IsPairedConnectionId(sealed.id)) return HttpResponseOut::Text(403, "not paired\n");
  const PairedApp* app = nullptr;
  for (const PairedApp& a : vault_->contents().apps) {
    if (std::string_view(sealed.id).substr(4) == a.app_id) app = &a;
  }
  const PackValue* to = Member(sealed.header, win::kToKey, win::PackKind::kString);
  const std::string destination = to ? std::string(to->bytes()) : std::string();
  PackValue answer;
  if (destination == "file_list") {
    answer = FileList(sealed.body);
  } else if (destination == "app_req_account_key") {
    answer = AccountKeyFor(*app);
  } else if (destination == "file_req_enc_data") {
    answer = CodeAnswer(*app, sealed.body, request.peer);
  } else {
    return HttpResponseOut::Text(404, "unknown destination\n");
  }
  std::string out;
  const VaultContents& v = vault_->contents();
  if (!win::SealResponse(destination, answer, {}, v.service_sign, v.service_box.secret_key,
                         app->box_public_key, UnixSeconds(), &out, &error))
    return HttpResponseOut::Text(500, error + "\n");
  return Binary(std::move(out));
}

PackValue CompanionService::FileList(const PackValue& body) {
  const VaultContents& v = vault_->contents();
  const std::string current = std::to_string(v.list_version);
  PackValue list = PackValue::Array();
  // A client that holds the current version gets no entries: nothing changed.
  if (win::ListVersionOf(body) != current) {
    for (const CompanionEntry& entry : v.entries) {
      const PackValue data = PackValue::Map({{win::kIssuerKey, PackValue::String(entry.issuer)},
                                             {win::kAccountKey, PackValue::String(entry.account)}});
      list.Push(PackValue::Map({{"id", PackValue::String(entry.id)},
                                {"type", PackValue::String("totp")},
                                {"status", PackValue::String("active")},
                                {win::kDataPlainKey, PackValue::Binary(win::PackEncode(data))},
                                {"flags", PackValue::Array()}}));
    }
  }
  return PackValue::Map({{win::kListVersionKey, PackValue::Uint(v.list_version)},
                         {win::kFileListKey, std::move(list)},
                         {win::kDeletedKey, PackValue::Array()}});
}

PackValue CompanionService::AccountKeyFor(const PairedApp& app) {
  const VaultContents& v = vault_->contents();
  std::string nonce, cipher, error;
  win::BoxSeal(v.account_key, app.box_public_key, v.safe_box.secret_key, &nonce, &cipher, &error);
  return PackValue::Map({{"account_key_for_ap", PackValue::Binary(nonce + cipher)}});
}

PackValue CompanionService::CodeAnswer(const PairedApp& app, const PackValue& body,
                                       const std::string& peer) {
  const PackValue* id = Member(body, "id", win::PackKind::kString);
  const std::string entry_id = id ? std::string(id->bytes()) : std::string();
  const VaultContents& v = vault_->contents();
  const auto entry = std::ranges::find(v.entries, entry_id, &CompanionEntry::id);
  if (entry == v.entries.end())
    return PackValue::Map({{"status", PackValue::String("done")}, {"list", PackValue::Array()}});

  ExpireRequests();
  auto found = std::ranges::find_if(codes_, [&](const std::unique_ptr<CodeRequest>& r) {
    return r->app_id == app.app_id && r->entry_id == entry_id;
  });
  if (found == codes_.end()) {
    auto request = std::make_unique<CodeRequest>();
    request->request_id = "code-" + std::to_string(next_request_++);
    request->app_id = app.app_id;
    request->app_name = app.name;
    request->entry_id = entry_id;
    request->peer = peer;
    request->created = Clock::now();
    const ApprovalPolicy policy = config_.code_policy;
    if (policy == ApprovalPolicy::kDeny) request->state = CodeRequest::State::kDenied;
    if (policy == ApprovalPolicy::kApproveLocal && IsLoopback(peer))
      request->state = CodeRequest::State::kApproved;
    if (request->state == CodeRequest::State::kPending)
      win::LogLine(kLog + request->request_id + ": \"" + app.name + "\" asks for the code of " +
                   Describe(*entry) + "\n");
    codes_.push_back(std::move(request));
    found = codes_.end() - 1;
  }
  const CodeRequest::State state = (*found)->state;
  if (state == CodeRequest::State::kPending)
    return PackValue::Map({{"status", PackValue::String("pending")}});
  codes_.erase(found);
  if (state == CodeRequest::State::kDenied)
    return PackValue::Map({{"status", PackValue::String("denied")}});
  std::string code = TotpCode(entry->secret, UnixSeconds());
  win::ScopedWipe wipe_code(&code);
  std::string sealed, error;
  win::SecretBoxSeal(code, v.account_key, &sealed, &error);
  return PackValue::Map(
      {{"status", PackValue::String("done")},
       {"list",
        PackValue::Array({PackValue::Map({{"id", PackValue::String(entry_id)},
                                          {win::kTotpDataKey, PackValue::Binary(sealed)}})})}});
}

void CompanionService::ExpireRequests() {
  const auto now = Clock::now();
  std::erase_if(codes_, [&](const std::unique_ptr<CodeRequest>& r) {
    return now - r->created > std::chrono::seconds(config_.request_seconds);
  });
  std::erase_if(pairings_,
                [&](const auto& item) { return now - item.second->created > kPairingLifetime; });
}

// ---- Decisions --------------------------------------------------------------------------------

bool CompanionService::Decide(const std::string& id, bool approve, std::string* error) {
  for (auto& [tmp_id, pairing] : pairings_) {
    if (pairing->request_id != id || pairing->decision != Pairing::Decision::kPending) continue;
    if (approve) {
      if (!ApprovePairing(*pairing, error)) return false;
    } else {
      pairing->decision = Pairing::Decision::kDenied;
      pairing->result = PackValue::Map({{"status", PackValue::String("denied")},
                                        {win::kAckIdKey, PackValue::String(pairing->request_id)}});
    }
    win::LogLine(kLog + id + (approve ? " approved\n" : " denied\n"));
    DeliverPairingResult(*pairing);
    return true;
  }
  for (const std::unique_ptr<CodeRequest>& request : codes_) {
    if (request->request_id != id || request->state != CodeRequest::State::kPending) continue;
    request->state = approve ? CodeRequest::State::kApproved : CodeRequest::State::kDenied;
    win::LogLine(kLog + id + (approve ? " approved\n" : " denied\n"));
    return true;
  }
  *error = "no pending request " + id;
  return false;
}

bool CompanionService::ApprovePairing(Pairing& pairing, std::string* error) {
  VaultContents& v = vault_->contents();
  PairedApp app;
  app.app_id = win::Base64Url(win::RandomBytes(12));
  app.name = pairing.name;
  app.sign_public_key = pairing.sign_public_key;
  app.box_public_key = pairing.box_public_key;
  app.paired = UnixSeconds();
  v.apps.push_back(app);
  if (!vault_->Save(error)) {
    v.apps.pop_back();
    return false;
  }
  std::string nonce, cipher;
  win::BoxSeal(v.account_key, pairing.box_public_key, v.safe_box.secret_key, &nonce, &cipher,
               error);
  pairing.decision = Pairing::Decision::kApproved;
  pairing.result = PackValue::Map({
      {"status", PackValue::String("done")},
      {"app_id", PackValue::String(app.app_id)},
      {"safe_id", PackValue::String(v.safe_id)},
      {"user_nickname", PackValue::String(v.nickname)},
      {"capabilities", PackValue::Array({PackValue::String("sso"), PackValue::String("ap")})},
      {"ap_access",
       PackValue::Map({{"full_access", PackValue::Bool(false)},
                       {"scopes", PackValue::Array({PackValue::String(kTwoFactorScope)})}})},
      {"user_enc_pk", PackValue::Binary(v.safe_box.public_key)},
      {"account_key_for_ap", PackValue::Binary(nonce + cipher)},
      {win::kAckIdKey, PackValue::String(pairing.request_id)},
  });
  return true;
}

void CompanionService::DeliverPairingResult(Pairing& pairing) {
  if (pairing.decision == Pairing::Decision::kPending) return;
  Broadcast(win::kPairingPrefix + pairing.tmp_id, win::kEventAppAuthResult, pairing.result);
}

bool CompanionService::AddEntry(const std::string& uri, std::string* id, std::string* error) {
  OtpAuthEntry parsed;
  if (!ParseOtpAuthUri(uri, &parsed, error)) return false;
  VaultContents& v = vault_->contents();
  CompanionEntry entry;
  entry.id = "e" + std::to_string(v.next_entry);
  entry.issuer = parsed.issuer.empty() ? parsed.account : parsed.issuer;
  entry.account = parsed.issuer.empty() ? std::string() : parsed.account;
  entry.secret = parsed.secret;
  entry.added = UnixSeconds();
  v.entries.push_back(entry);
  ++v.next_entry;
  ++v.list_version;
  if (!vault_->Save(error)) {
    v.entries.pop_back();
    --v.next_entry;
    --v.list_version;
    return false;
  }
  *id = entry.id;
  win::LogLine(std::string(kLog) + "added " + entry.id + ": " + Describe(entry) + "\n");
  Broadcast("", win::kEventFileListUpdated, PackValue::Map());
  return true;
}

bool CompanionService::RemoveApp(const std::string& app_id, std::string* error) {
  VaultContents& v = vault_->contents();
  const auto found = std::ranges::find(v.apps, app_id, &PairedApp::app_id);
  if (found == v.apps.end()) {
    *error = "no paired app " + app_id;
    return false;
  }
  const PairedApp removed = *found;
  v.apps.erase(found);
  if (!vault_->Save(error)) {
    v.apps.push_back(removed);
    return false;
  }
  const std::string connection_id = win::kPairedPrefix + app_id;
  Broadcast(connection_id, win::kEventAppDeleted, PackValue::Map());
  for (const std::shared_ptr<Connection>& c : connections_) {
    if (c->id == connection_id) c->peer->Close();
  }
  return true;
}

// ---- WebSocket --------------------------------------------------------------------------------

std::shared_ptr<WebSocketSession> CompanionService::Accept(const HttpRequestIn& request,
                                                           std::shared_ptr<WebSocketPeer> peer,
                                                           HttpResponseOut* refusal) {
  constexpr std::string_view kSig = "sig=";
  std::string signed_message;
  if (request.path != "/v3/ws" || !request.query.starts_with(kSig) ||
      !win::DecodeBase64Url(std::string_view(request.query).substr(kSig.size()), &signed_message) ||
      signed_message.size() <= win::kSignatureBytes) {
    *refusal = HttpResponseOut::Text(400, "bad WebSocket path\n");
    return nullptr;
  }
  const std::string message = signed_message.substr(win::kSignatureBytes);
  const size_t dot = message.rfind('.');
  const std::string connection_id = message.substr(0, dot);
  int64_t sent = 0;
  try {
    sent = std::stoll(message.substr(dot + 1));
  } catch (const std::exception&) {
    sent = 0;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  std::string sign_key, box_key, error;
  if (dot == std::string::npos || !KeysOf(connection_id, &sign_key, &box_key) ||
      !win::VerifySigned(signed_message, sign_key, message, &error) || !WithinClockSkew(sent)) {
    *refusal = HttpResponseOut::Text(401, "bad signature\n");
    return nullptr;
  }
  auto connection = std::make_shared<Connection>(this, connection_id, box_key, peer);
  connections_.push_back(connection);
  peer->Send(SealEvent(win::kEventConnected, PackValue::Map(), box_key));
  if (win::IsPairingConnectionId(connection_id))
    DeliverPairingResult(*pairings_.at(connection_id.substr(4)));
  return connection;
}

void CompanionService::OnClientMessage(Connection* connection, const std::string& message) {
  std::lock_guard<std::mutex> hold(mutex_);
  win::GksRequest request;
  std::string error;
  const win::GksAppKeyLookup lookup = [this](std::string_view id, std::string* sign,
                                             std::string* box) { return KeysOf(id, sign, box); };
  if (!win::OpenRequest(message, lookup, vault_->contents().service_box.secret_key, &request,
                        &error) ||
      request.id != connection->id)
    return;
  const PackValue* to = Member(request.header, win::kToKey, win::PackKind::kString);
  const PackValue* ack = Member(request.body, win::kAckIdKey, win::PackKind::kString);
  if (to == nullptr || to->bytes() != win::kDestinationAck || ack == nullptr) return;
  // The app has its pairing result: the pairing is over.
  std::erase_if(pairings_, [&](const auto& item) {
    return item.second->request_id == ack->bytes() &&
           item.second->decision != Pairing::Decision::kPending;
  });
}

void CompanionService::Forget(Connection* connection) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::erase_if(connections_, [connection](const std::shared_ptr<Connection>& c) {
    return c.get() == connection;
  });
}

void CompanionService::PingLoop() {
  std::unique_lock<std::mutex> hold(ping_mutex_);
  while (!ping_wake_.wait_for(hold, std::chrono::seconds(config_.ping_seconds),
                              [this] { return stopping_; })) {
    std::lock_guard<std::mutex> state(mutex_);
    for (const std::shared_ptr<Connection>& c : connections_)
      c->peer->Send(SealEvent(win::kEventPing, PackValue::Map(), c->box_public_key));
    ExpireRequests();
  }
}

// ---- Administration ---------------------------------------------------------------------------

std::string CompanionService::StateJson() {
  ExpireRequests();
  const auto now = Clock::now();
  auto age = [now](Clock::time_point t) {
    return json::MakeJsonNumber(
        static_cast<double>(std::chrono::duration_cast<std::chrono::seconds>(now - t).count()));
  };
  std::vector<JsonValue> pending;
  for (const auto& [tmp_id, p] : pairings_) {
    if (p->decision != Pairing::Decision::kPending) continue;
    pending.push_back(json::MakeJsonObject({{"id", json::MakeJsonString(p->request_id)},
                                            {"kind", json::MakeJsonString("pairing")},
                                            {"detail", json::MakeJsonString(p->name)},
                                            {"from", json::MakeJsonString(p->peer)},
                                            {"age", age(p->created)}}));
  }
  const VaultContents& v = vault_->contents();
  for (const std::unique_ptr<CodeRequest>& r : codes_) {
    if (r->state != CodeRequest::State::kPending) continue;
    const auto entry = std::ranges::find(v.entries, r->entry_id, &CompanionEntry::id);
    pending.push_back(json::MakeJsonObject(
        {{"id", json::MakeJsonString(r->request_id)},
         {"kind", json::MakeJsonString("code")},
         {"detail",
          json::MakeJsonString((entry != v.entries.end() ? Describe(*entry) : r->entry_id) +
                               " for " + r->app_name)},
         {"from", json::MakeJsonString(r->peer)},
         {"age", age(r->created)}}));
  }
  std::vector<JsonValue> entries;
  for (const CompanionEntry& e : v.entries) {
    entries.push_back(json::MakeJsonObject({{"id", json::MakeJsonString(e.id)},
                                            {"issuer", json::MakeJsonString(e.issuer)},
                                            {"account", json::MakeJsonString(e.account)}}));
  }
  std::vector<JsonValue> apps;
  for (const PairedApp& a : v.apps) {
    const bool online = std::ranges::any_of(
        connections_, [&](const auto& c) { return c->id == win::kPairedPrefix + a.app_id; });
    apps.push_back(json::MakeJsonObject({{"app_id", json::MakeJsonString(a.app_id)},
                                         {"name", json::MakeJsonString(a.name)},
                                         {"online", json::MakeJsonBool(online)}}));
  }
  return json::SerializeJson(json::MakeJsonObject(
      {{"pending", json::MakeJsonArray(std::move(pending))},
       {"entries", json::MakeJsonArray(std::move(entries))},
       {"apps", json::MakeJsonArray(std::move(apps))},
       {"service_box_public_key", json::MakeJsonString(win::HexEncode(v.service_box.public_key))},
       {"service_sign_public_key",
        json::MakeJsonString(win::HexEncode(v.service_sign.public_key))}}));
}

HttpResponseOut CompanionService::Admin(const HttpRequestIn& request) {
  if (!IsLoopback(request.peer) ||
      !win::ConstantTimeEqual(request.Header("Authorization"), "Bearer " + admin_token_))
    return JsonError(403, "forbidden");
  std::lock_guard<std::mutex> hold(mutex_);
  std::string error;
  const std::string& path = request.path;
  if (path == "/admin/state" && request.method == "GET")
    return HttpResponseOut::Json(200, StateJson() + "\n");
  if (request.method != "POST") return JsonError(405, "POST only");
  if (path == "/admin/approve" || path == "/admin/deny") {
    if (!Decide(request.body, path == "/admin/approve", &error)) return JsonError(404, error);
    return JsonAnswer(200, json::MakeJsonObject({{"ok", json::MakeJsonBool(true)}}));
  }
  if (path == "/admin/add") {
    std::string id;
    if (!AddEntry(request.body, &id, &error)) return JsonError(400, error);
    return JsonAnswer(200, json::MakeJsonObject({{"id", json::MakeJsonString(id)}}));
  }
  if (path == "/admin/remove-app") {
    if (!RemoveApp(request.body, &error)) return JsonError(404, error);
    return JsonAnswer(200, json::MakeJsonObject({{"ok", json::MakeJsonBool(true)}}));
  }
  if (path == "/_test/cut-websockets") {
    for (const std::shared_ptr<Connection>& c : connections_) c->peer->Cut();
    return JsonAnswer(
        200, json::MakeJsonObject(
                 {{"cut", json::MakeJsonNumber(static_cast<double>(connections_.size()))}}));
  }
  return JsonError(404, "not found");
}

}  // namespace kavi::service
