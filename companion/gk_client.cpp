// SPDX-License-Identifier: Apache-2.0
#include "companion/gk_client.h"

#include <cstring>
#include <future>
#include <thread>

#include "companion/gk_connection.h"
#include "companion/gk_websocket.h"
#include "companion/pack_codec.h"
#include "companion/two_factor_list.h"
#include "net/https_url.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace kavi::win {
namespace {

// The persisted items.
constexpr char kConnectionIdItem[] = "connection_id";
constexpr char kAppIdItem[] = "app_id";
constexpr char kSafeIdItem[] = "safe_id";
constexpr char kNicknameItem[] = "nickname";
constexpr char kSafeEncPkItem[] = "safe_enc_pk";
constexpr char kAccountKeyItem[] = "account_key";
constexpr char kSignPkItem[] = "sign_pk";
constexpr char kSignSkItem[] = "sign_sk";
constexpr char kEncPkItem[] = "enc_pk";
constexpr char kEncSkItem[] = "enc_sk";
constexpr const char* kEveryItem[] = {
    kConnectionIdItem, kAppIdItem,  kSafeIdItem, kNicknameItem, kSafeEncPkItem,
    kAccountKeyItem,   kSignPkItem, kSignSkItem, kEncPkItem,    kEncSkItem};

constexpr char kTmpIdKey[] = "tmp_id";
constexpr char kStatusKey[] = "status";
constexpr char kAccountKeyForApKey[] = "account_key_for_ap";
constexpr char kLockedLog[] = "[Kavi] GK Account Key 尚未可用，保留鎖定項目\n";
constexpr int kTotpWaitSlices = 100;

int64_t UnixSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool Fail(std::string* error, std::string message) {
  *error = std::move(message);
  return false;
}

bool HasKeys(const SignKeyPair& sign, const BoxKeyPair& box) {
  return sign.public_key.size() == kSignPublicKeyBytes &&
         sign.secret_key.size() == kSignSecretKeyBytes &&
         box.public_key.size() == kBoxPublicKeyBytes && box.secret_key.size() == kBoxSecretKeyBytes;
}

}  // namespace

GKClient::GKClient(DpapiStore store, GkEndpointsSource endpoints, GkTiming timing)
    : store_(std::move(store)), endpoints_(std::move(endpoints)), timing_(timing) {
  auto load = [this](const char* item) {
    std::string bytes, ignored;
    store_.Load(item, &bytes, &ignored);
    return bytes;
  };
  identity_.connection_id = load(kConnectionIdItem);
  identity_.sign = {load(kSignPkItem), load(kSignSkItem)};
  identity_.box = {load(kEncPkItem), load(kEncSkItem)};
  account_ = {load(kAppIdItem), load(kSafeIdItem), load(kNicknameItem), load(kSafeEncPkItem),
              load(kAccountKeyItem)};
  // An identity without its keys cannot speak: it counts as none.
  if (!HasKeys(identity_.sign, identity_.box)) identity_.connection_id.clear();
}

bool GKClient::IsPaired() const {
  std::lock_guard<std::mutex> hold(state_mutex_);
  return IsPairedConnectionId(identity_.connection_id);
}

GKClient::Status GKClient::status() const {
  std::lock_guard<std::mutex> hold(state_mutex_);
  Status status;
  const std::string& id = identity_.connection_id;
  status.state = IsPairedConnectionId(id)    ? State::kPaired
                 : IsPairingConnectionId(id) ? State::kPairing
                                             : State::kUnpaired;
  if (status.state == State::kPaired) {
    status.app_id = account_.app_id;
    status.safe_id = account_.safe_id;
    status.nickname = account_.nickname;
  }
  if (status.state == State::kPairing) status.pairing_id = id.substr(std::strlen(kPairingPrefix));
  status.pairing_error = pairing_error_;
  status.account_key = account_.account_key.size() == kSecretBoxKeyBytes;
  status.list_ready = list_ready_;
  status.entry_count = entries_.size();
  return status;
}

GKClient::Identity GKClient::CopyIdentity() const {
  std::lock_guard<std::mutex> hold(state_mutex_);
  return identity_;
}

bool GKClient::Endpoints(GkEndpoints* endpoints, std::string* error) const {
  if (!endpoints_ || !endpoints_(endpoints, error)) {
    if (error->empty()) *error = kGkNotConfigured;
    return false;
  }
  return true;
}

// ---- Persistence ------------------------------------------------------------------------------

bool GKClient::Persist(std::string_view item, std::string_view bytes) {
  std::string error;
  // The store keeps no empty items: an empty value is the item's absence.
  if (bytes.empty()) {
    ForgetItem(item);
    return true;
  }
  return store_.Save(item, bytes, &error);
}

void GKClient::ForgetItem(std::string_view item) {
  std::string ignored;
  store_.Delete(item, &ignored);
}

void GKClient::ClearAccount() {
  Wipe(&account_.account_key);
  account_ = Account();
  for (const char* item : {kAppIdItem, kSafeIdItem, kNicknameItem, kSafeEncPkItem, kAccountKeyItem})
    ForgetItem(item);
  entries_.clear();
  list_version_.clear();
  list_ready_ = false;
}

// ---- Requests ---------------------------------------------------------------------------------

bool GKClient::RequestAs(const Identity& identity, std::string_view destination,
                         const PackValue& body, PackValue* response_body, std::string* error,
                         HttpCancellation* cancellation) {
  *response_body = PackValue();
  if (identity.connection_id.empty()) return Fail(error, kGkNotPaired);
  GkEndpoints endpoints;
  if (!Endpoints(&endpoints, error)) return false;
  std::string sealed;
  if (!SealRequest(identity.connection_id, kGkAppVersion, destination, body, identity.sign,
                   identity.box, endpoints.service_keys, UnixSeconds(), &sealed, error))
    return false;
  std::string reply;
  if (!http_.Post(endpoints.base_url, endpoints.extra_ca_bundle, kRequestPath, std::move(sealed),
                  &reply, error, cancellation))
    return false;
  PackValue header;
  std::vector<std::string> raw;
  if (!OpenResponse(reply, identity.box, endpoints.service_keys, &header, response_body, &raw,
                    error))
    return false;
  std::lock_guard<std::mutex> hold(state_mutex_);
  if (identity_.generation != identity.generation) {
    *response_body = PackValue();
    return Fail(error, kGkRequestInFlight);
  }
  return true;
}

bool GKClient::Request(std::string_view destination, const PackValue& body,
                       PackValue* response_body, std::string* error,
                       HttpCancellation* cancellation) {
  return RequestAs(CopyIdentity(), destination, body, response_body, error, cancellation);
}

bool GKClient::RequestAccountKey(std::string* error, HttpCancellation* cancellation) {
  const Identity identity = CopyIdentity();
  PackValue body;
  if (!RequestAs(identity, kDestinationAccountKey, PackValue::Map(), &body, error, cancellation))
    return false;
  const PackValue* sealed = body.Find(kAccountKeyForApKey);
  if (sealed == nullptr || !sealed->is_binary()) return Fail(error, kGkAccountKeyUnavailable);
  std::string safe_key;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    safe_key = account_.safe_enc_pk;
  }
  if (safe_key.size() != kBoxPublicKeyBytes) return Fail(error, kGkSafeKeyUnavailable);
  std::string key;
  ScopedWipe wipe_key(&key);
  std::string ignored;
  if (!BoxOpen(sealed->bytes(), safe_key, identity.box.secret_key, &key, &ignored) ||
      key.size() != kSecretBoxKeyBytes)
    return Fail(error, kGkAccountKeyUnavailable);
  std::lock_guard<std::mutex> hold(state_mutex_);
  if (identity_.generation != identity.generation) return Fail(error, kGkRequestInFlight);
  if (!Persist(kAccountKeyItem, key)) return Fail(error, kGkCannotPersistAccountKey);
  account_.account_key = key;
  error->clear();
  return true;
}

// ---- The 2FA list and codes -------------------------------------------------------------------

bool GKClient::FetchTwoFactor(std::vector<TwoFactorEntry>* entries, std::string* error,
                              HttpCancellation* cancellation) {
  std::string version;
  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    version = list_version_;
    generation = identity_.generation;
  }
  PackValue body;
  if (!Request(kDestinationFileList,
               PackValue::Map({{kListVersionKey, PackValue::String(version)}}), &body, error,
               cancellation))
    return false;
  std::vector<TwoFactorEntry> received = EntriesOf(body);
  const std::vector<std::string> deleted = DeletedIdsOf(body);

  bool have_key = false;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    have_key = account_.account_key.size() == kSecretBoxKeyBytes;
  }
  if (!have_key) {
    std::string key_error;
    have_key = RequestAccountKey(&key_error, cancellation);
    if (!have_key) LogLine(kLockedLog);
  }
  for (TwoFactorEntry& entry : received) entry.locked = !have_key;

  std::lock_guard<std::mutex> hold(state_mutex_);
  if (identity_.generation != generation) return Fail(error, kGkRequestInFlight);
  MergeTwoFactorList(&entries_, std::move(received), deleted, version.empty());
  for (TwoFactorEntry& entry : entries_) entry.locked = !have_key;
  list_version_ = ListVersionOf(body);
  list_ready_ = true;
  if (entries != nullptr) *entries = entries_;
  error->clear();
  return true;
}

bool GKClient::list_ready() const {
  std::lock_guard<std::mutex> hold(state_mutex_);
  return list_ready_;
}

std::vector<TwoFactorEntry> GKClient::entries() const {
  std::lock_guard<std::mutex> hold(state_mutex_);
  return entries_;
}

bool GKClient::RequestTotp(const std::string& entry_id, std::string* code, std::string* error,
                           HttpCancellation* cancel) {
  return RequestTotp(entry_id, code, error, cancel, timing_.totp_deadline);
}

bool GKClient::RequestTotp(const std::string& entry_id, std::string* code, std::string* error,
                           HttpCancellation* cancel, std::chrono::milliseconds deadline) {
  // The exchange runs as a task of its own; this thread waits for its outcome.
  auto task = std::async(std::launch::async, [&] {
    return RunTotpExchange(entry_id, code, error, cancel,
                           std::min(deadline, timing_.totp_deadline));
  });
  return task.get();
}

bool GKClient::RunTotpExchange(const std::string& entry_id, std::string* code, std::string* error,
                               HttpCancellation* cancel, std::chrono::milliseconds deadline) {
  Wipe(code);
  const auto cancelled = [cancel] { return cancel != nullptr && cancel->IsCancelled(); };
  const auto end = std::chrono::steady_clock::now() + deadline;
  const PackValue body = PackValue::Map({{"id", PackValue::String(entry_id)}});
  const auto slice = timing_.totp_interval / kTotpWaitSlices;
  for (int attempt = 0; attempt < timing_.totp_attempts; ++attempt) {
    if (cancelled()) return Fail(error, kTotpCancelled);
    if (attempt > 0) {
      for (int i = 0; i < kTotpWaitSlices && !cancelled() && std::chrono::steady_clock::now() < end;
           ++i)
        std::this_thread::sleep_for(slice);
      if (cancelled()) return Fail(error, kTotpCancelled);
    }
    if (std::chrono::steady_clock::now() >= end) break;
    PackValue answer;
    if (!Request(kDestinationTotp, body, &answer, error, cancel)) {
      if (cancelled()) return Fail(error, kTotpCancelled);
      return false;
    }
    const PackValue* status = answer.Find(kStatusKey);
    const std::string_view state = status && status->is_string() ? status->bytes() : "";
    if (state == "denied") return Fail(error, kTotpDenied);
    if (state == "done") {
      std::string key;
      {
        std::lock_guard<std::mutex> hold(state_mutex_);
        key = account_.account_key;
      }
      ScopedWipe wipe_key(&key);
      return CodeFromTotpAnswer(answer, entry_id, key, code, error);
    }
  }
  return Fail(error, cancelled() ? kTotpCancelled : kTotpTimedOut);
}

// ---- Pairing ----------------------------------------------------------------------------------

bool GKClient::StartPairing(const std::string& app_name, std::string* pairing_id,
                            std::string* error) {
  pairing_id->clear();
  Identity before = CopyIdentity();
  if (IsPairingConnectionId(before.connection_id)) ResetConnection();
  SignKeyPair sign = before.sign;
  BoxKeyPair box = before.box;
  if (sign.public_key.size() != kSignPublicKeyBytes ||
      sign.secret_key.size() != kSignSecretKeyBytes) {
    if (!GenerateSignKeyPair(&sign, error)) return false;
  }
  if (box.public_key.size() != kBoxPublicKeyBytes || box.secret_key.size() != kBoxSecretKeyBytes) {
    if (!GenerateBoxKeyPair(&box, error)) return false;
  }

  GkEndpoints endpoints;
  if (!Endpoints(&endpoints, error)) return false;
  std::string reply;
  if (!http_.Post(endpoints.base_url, endpoints.extra_ca_bundle, kHandshakePath,
                  AppRegistrationPayload(sign.public_key, box.public_key, app_name), &reply, error,
                  nullptr))
    return false;
  PackValue answer;
  if (!PackDecode(reply, &answer, error)) return false;
  const PackValue* tmp_id = answer.Find(kTmpIdKey);
  if (tmp_id == nullptr || !tmp_id->is_string() || tmp_id->bytes().empty())
    return Fail(error, kGkHandshakeNoTmpId);

  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (identity_.generation != before.generation)
      return Fail(error, kGkSessionChangedWhilePairing);
    const std::string connection_id = kPairingPrefix + std::string(tmp_id->bytes());
    if (!Persist(kConnectionIdItem, connection_id)) return Fail(error, kGkCannotPersistState);
    if (!Persist(kSignPkItem, sign.public_key) || !Persist(kSignSkItem, sign.secret_key) ||
        !Persist(kEncPkItem, box.public_key) || !Persist(kEncSkItem, box.secret_key))
      return Fail(error, kGkCannotPersistKeys);
    identity_.connection_id = connection_id;
    identity_.sign = std::move(sign);
    identity_.box = std::move(box);
    ClearAccount();
    generation = ++identity_.generation;
    temporary_connected_.reset();
    pairing_error_.clear();
  }
  pairing_changed_.notify_all();
  ResetConnection();

  std::unique_lock<std::mutex> hold(state_mutex_);
  pairing_changed_.wait_for(hold, timing_.temporary_connect_wait, [&] {
    return identity_.generation != generation || temporary_connected_ == generation;
  });
  // A companion that approves at once may complete the pairing (a new generation) right after
  // "connected": the temporary connection of this pairing did connect.
  if (temporary_connected_ != generation) {
    if (identity_.generation != generation) return Fail(error, kGkSessionChangedWhilePairing);
    return Fail(error, kGkTemporaryTimedOut);
  }
  *pairing_id = std::string(tmp_id->bytes());
  error->clear();
  return true;
}

bool GKClient::WaitForPairing(std::chrono::milliseconds timeout, std::string* error) {
  std::unique_lock<std::mutex> hold(state_mutex_);
  const auto settled = [this] {
    return !IsPairingConnectionId(identity_.connection_id) || !pairing_error_.empty();
  };
  pairing_changed_.wait_for(hold, timeout, settled);
  if (IsPairedConnectionId(identity_.connection_id)) {
    error->clear();
    return true;
  }
  if (!pairing_error_.empty()) return Fail(error, pairing_error_);
  return Fail(error,
              IsPairingConnectionId(identity_.connection_id) ? kGkPairingNotDone : kGkNoPairing);
}

bool GKClient::CompletePairing(const Identity& identity, const PackValue& result,
                               std::string* error) {
  AppAuthResult auth;
  if (!CheckAppAuthResult(&result, &auth, error)) return false;
  std::string account_key;
  ScopedWipe wipe_key(&account_key);
  std::string ignored;
  if (!BoxOpen(auth.sealed_account_key, auth.safe_enc_pk, identity.box.secret_key, &account_key,
               &ignored) ||
      account_key.size() != kSecretBoxKeyBytes)
    return Fail(error, kGkInvalidAccountKey);
  std::string connection_id;
  if (!ConnectionIdFromAppId(auth.app_id, &connection_id)) return Fail(error, kGkInvalidAppId);

  std::lock_guard<std::mutex> hold(state_mutex_);
  if (identity_.generation != identity.generation)
    return Fail(error, kGkSessionChangedWhilePairing);
  if (!Persist(kNicknameItem, auth.nickname) || !Persist(kSafeIdItem, auth.safe_id) ||
      !Persist(kSafeEncPkItem, auth.safe_enc_pk) || !Persist(kAccountKeyItem, account_key) ||
      !Persist(kAppIdItem, auth.app_id) || !Persist(kConnectionIdItem, connection_id))
    return Fail(error, kGkCannotPersistAccountState);
  account_ = {auth.app_id, auth.safe_id, auth.nickname, auth.safe_enc_pk, account_key};
  identity_.connection_id = connection_id;
  ++identity_.generation;
  entries_.clear();
  list_version_.clear();
  list_ready_ = false;
  pairing_error_.clear();
  error->clear();
  return true;
}

void GKClient::Unpair() {
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    ForgetIdentity();
    pairing_error_.clear();
  }
  pairing_changed_.notify_all();
  ResetConnection();
}

void GKClient::ForgetIdentity() {
  for (const char* item : kEveryItem) ForgetItem(item);
  Wipe(&identity_.sign.secret_key);
  Wipe(&identity_.box.secret_key);
  identity_ = Identity{{}, {}, {}, identity_.generation + 1};
  ClearAccount();
  temporary_connected_.reset();
}

// ---- The WebSocket session --------------------------------------------------------------------

void GKClient::ResetConnection() {
  std::lock_guard<std::mutex> hold(session_mutex_);
  wake_pending_ = true;
  if (socket_ != nullptr) socket_->Abort();
  session_wake_.notify_all();
}

void GKClient::Interrupt() {
  ResetConnection();
}

void GKClient::WaitForWake(const std::atomic<bool>& stop, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(session_mutex_);
  session_wake_.wait_for(hold, timeout, [&] { return wake_pending_ || stop; });
  wake_pending_ = false;
}

void GKClient::RunSession(const std::atomic<bool>& stop,
                          const std::function<void(GkEventKind)>& on_event) {
  while (!stop) {
    const Identity identity = CopyIdentity();
    const bool connected = (IsPairedConnectionId(identity.connection_id) ||
                            IsPairingConnectionId(identity.connection_id)) &&
                           ServeConnection(stop, identity, on_event);
    (void)connected;
    if (stop) break;
    WaitForWake(stop, timing_.reconnect_wait);
  }
}

bool GKClient::ServeConnection(const std::atomic<bool>& stop, const Identity& identity,
                               const std::function<void(GkEventKind)>& on_event) {
  GkEndpoints endpoints;
  std::string error;
  if (!Endpoints(&endpoints, &error)) return false;
  std::string path;
  if (!SignedWebSocketPath(identity.connection_id, identity.sign.secret_key, UnixSeconds(), &path,
                           &error)) {
    LogLine("[Kavi] " + error + "\n");
    return false;
  }
  HttpsUrl url;
  HttpError url_error;
  if (!ParseHttpsUrl(endpoints.base_url, &url, &url_error)) return false;

  GkWebSocket socket;
  {
    // A wake-up pending now means the identity changed since it was copied: start over.
    std::lock_guard<std::mutex> hold(session_mutex_);
    if (stop || wake_pending_) return false;
    socket_ = &socket;
  }
  struct Unregister {
    GKClient* client;
    ~Unregister() {
      std::lock_guard<std::mutex> hold(client->session_mutex_);
      client->socket_ = nullptr;
    }
  } unregister{this};

  GkWebSocketOptions options;
  options.host = url.host;
  options.port = url.port;
  options.target = path;
  options.extra_ca_bundle = endpoints.extra_ca_bundle;
  options.user_agent = kGkUserAgent;
  options.receive_timeout = timing_.receive_timeout;
  if (!socket.Connect(options, &error)) {
    LogLine("[Kavi] " + error + "\n");
    return false;
  }
  std::string message;
  while (!stop && socket.Read(&message, &error)) {
    GkEvent event;
    std::string event_error;
    if (!ReadGkEvent(message, identity.box, endpoints.service_keys, &event, &event_error)) {
      LogLine("[Kavi] GK event refused: " + event_error + "\n");
      continue;
    }
    if (!HandleEvent(socket, identity, endpoints, event, on_event)) break;
  }
  socket.Close();
  return true;
}

void GKClient::SendSealed(GkWebSocket& socket, const Identity& identity,
                          const GkEndpoints& endpoints, std::string_view destination,
                          const PackValue& body) {
  std::string sealed, error;
  if (SealRequest(identity.connection_id, kGkAppVersion, destination, body, identity.sign,
                  identity.box, endpoints.service_keys, UnixSeconds(), &sealed, &error))
    socket.Write(sealed, &error);
}

bool GKClient::HandleEvent(GkWebSocket& socket, const Identity& identity,
                           const GkEndpoints& endpoints, const GkEvent& event,
                           const std::function<void(GkEventKind)>& on_event) {
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (identity_.generation != identity.generation) return false;
  }
  switch (event.kind) {
    case GkEventKind::kPing:
      SendSealed(socket, identity, endpoints, kDestinationPong, PackValue::Map());
      return true;
    case GkEventKind::kConnected:
      if (IsPairingConnectionId(identity.connection_id)) {
        {
          std::lock_guard<std::mutex> hold(state_mutex_);
          if (identity_.generation == identity.generation)
            temporary_connected_ = identity.generation;
        }
        pairing_changed_.notify_all();
      } else if (on_event) {
        on_event(GkEventKind::kConnected);
      }
      return true;
    case GkEventKind::kAppAuthResult: {
      if (!IsPairingConnectionId(identity.connection_id)) return true;
      if (const PackValue* ack = event.body.Find(kAckIdKey))
        SendSealed(socket, identity, endpoints, kDestinationAck,
                   PackValue::Map({{kAckIdKey, *ack}}));
      std::string error;
      const PackValue* status = event.body.Find(kStatusKey);
      const bool denied = status != nullptr && status->is_string() && status->bytes() == "denied";
      if (denied) {
        LogLine("[Kavi] " + std::string(kGkPairingDenied) + "\n");
        std::lock_guard<std::mutex> hold(state_mutex_);
        ForgetIdentity();
        pairing_error_ = kGkPairingDenied;
      } else if (CompletePairing(identity, event.body, &error)) {
        LogLine("[Kavi] GK paired\n");
      } else {
        LogLine("[Kavi] " + error + "\n");
        std::lock_guard<std::mutex> hold(state_mutex_);
        pairing_error_ = error;
      }
      pairing_changed_.notify_all();
      // A new identity connects anew, at once.
      std::lock_guard<std::mutex> hold(session_mutex_);
      wake_pending_ = true;
      return false;
    }
    case GkEventKind::kFileListUpdated:
    case GkEventKind::kAppScopeUpdated:
      if (on_event) on_event(event.kind);
      return true;
    case GkEventKind::kAppDeleted:
      LogLine("[Kavi] GK app deleted by the companion\n");
      Unpair();
      return false;
    case GkEventKind::kOther:
      return true;
  }
  return true;
}

}  // namespace kavi::win
