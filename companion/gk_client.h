// SPDX-License-Identifier: Apache-2.0
// GKClient: the input method's side of the GateKite companion. It pairs once with the user's
// companion (registering its own key pairs and receiving, over a temporary WebSocket, the app's
// authorisation with an account key sealed for it), then keeps a signed WebSocket open for the
// companion's events, and sends sealed requests for the 2FA list and for codes, which the
// companion answers once the user approves. TOTP secrets never reach this program.
//
// One client exists per server. Its identity and keys persist in a DpapiStore; the state mutex
// guards them and is never held across the network, and a generation counter, raised on every
// identity change, makes an operation that spans one fail instead of mixing identities.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/crypto.h"
#include "companion/dpapi_store.h"
#include "companion/gk_events.h"
#include "companion/gk_http.h"
#include "companion/gks_envelope.h"
#include "companion/pack_value.h"
#include "net/http_cancellation.h"
#include "protocol/two_factor_entry.h"

namespace kavi::win {

class GkWebSocket;

inline constexpr char kGkAppVersion[] = "0.5.1";
inline constexpr char kGkUserAgent[] = "Kavi-Windows/1.0";

inline constexpr char kGkNotConfigured[] = "GK companion service is not configured";
inline constexpr char kGkNotPaired[] = "GK app is not paired";
inline constexpr char kGkRequestInFlight[] = "GK session changed while request was in flight";
inline constexpr char kGkSessionChangedWhilePairing[] = "GK session changed while pairing";
inline constexpr char kGkTemporaryTimedOut[] = "GK temporary WebSocket connection timed out";
inline constexpr char kGkInvalidAppId[] = "GK pairing response has an invalid app id";
inline constexpr char kGkInvalidAccountKey[] = "GK pairing account key is invalid";
inline constexpr char kGkPairingDenied[] = "GK pairing was denied";
inline constexpr char kGkNoPairing[] = "GK pairing is not under way";
inline constexpr char kGkPairingNotDone[] = "GK pairing is not complete yet";
inline constexpr char kGkHandshakeNoTmpId[] = "GK handshake response has no temporary id";
inline constexpr char kGkCannotPersistState[] = "cannot persist GK state";
inline constexpr char kGkCannotPersistKeys[] = "cannot persist GK keys";
inline constexpr char kGkCannotPersistAccountState[] = "cannot persist GK account state";
inline constexpr char kGkCannotPersistAccountKey[] = "cannot persist GK account key";
inline constexpr char kGkSafeKeyUnavailable[] = "GK Safe encryption key is unavailable";
inline constexpr char kGkAccountKeyUnavailable[] = "GK account key is not available";
inline constexpr char kTotpCancelled[] = "TOTP request cancelled";
inline constexpr char kTotpTimedOut[] = "TOTP request timed out";
inline constexpr char kTotpDenied[] = "Safe denied the TOTP request";

// Destinations of sealed requests, and the service's HTTP paths below "/v3".
inline constexpr char kDestinationFileList[] = "file_list";
inline constexpr char kDestinationAccountKey[] = "app_req_account_key";
inline constexpr char kDestinationTotp[] = "file_req_enc_data";
inline constexpr char kRequestPath[] = "/";
inline constexpr char kHandshakePath[] = "/handshake";

// Where the companion service is and which keys are its own.
struct GkEndpoints {
  std::string base_url;  // https origin without a trailing slash
  GksServiceKeys service_keys;
  std::filesystem::path extra_ca_bundle;
};

// Read at each use, so that a changed setting takes effect without a restart; false with a
// message when the companion is not configured.
using GkEndpointsSource = std::function<bool(GkEndpoints* endpoints, std::string* error)>;

struct GkTiming {
  std::chrono::milliseconds reconnect_wait{5000};
  std::chrono::milliseconds temporary_connect_wait{15000};
  int totp_attempts = 30;
  std::chrono::milliseconds totp_deadline{60000};
  std::chrono::milliseconds totp_interval{2000};  // waited in 100 slices
  std::chrono::milliseconds receive_timeout{30000};
};

class GKClient {
 public:
  enum class State { kUnpaired, kPairing, kPaired };
  struct Status {
    State state = State::kUnpaired;
    std::string app_id;
    std::string safe_id;
    std::string nickname;
    std::string pairing_id;     // the temporary id while pairing
    std::string pairing_error;  // why the last pairing attempt ended, if it failed
    bool account_key = false;
    bool list_ready = false;
    size_t entry_count = 0;
  };

  // Loads the persisted identity; missing items leave the client unpaired.
  GKClient(DpapiStore store, GkEndpointsSource endpoints, GkTiming timing = {});
  GKClient(const GKClient&) = delete;
  GKClient& operator=(const GKClient&) = delete;

  bool IsPaired() const;
  Status status() const;

  // Registers this client and opens the temporary WebSocket; the pairing id goes into the link
  // the user opens in the companion app. A pairing under way is restarted.
  bool StartPairing(const std::string& app_name, std::string* pairing_id, std::string* error);
  // Waits until the pairing under way completes (true) or fails, or `timeout` passes.
  bool WaitForPairing(std::chrono::milliseconds timeout, std::string* error);
  // Forgets the identity, its keys and the list (every persisted item).
  void Unpair();

  // One sealed request.
  bool Request(std::string_view destination, const PackValue& body, PackValue* response_body,
               std::string* error, HttpCancellation* cancellation);
  bool RequestAccountKey(std::string* error, HttpCancellation* cancellation = nullptr);

  // The 2FA list, fetched and merged into the cache.
  bool FetchTwoFactor(std::vector<TwoFactorEntry>* entries, std::string* error,
                      HttpCancellation* cancellation = nullptr);
  bool list_ready() const;
  std::vector<TwoFactorEntry> entries() const;

  // Asks the companion for the current code of an entry and waits for the user's answer:
  // at most the configured attempts, one every interval, until the deadline.
  bool RequestTotp(const std::string& entry_id, std::string* code, std::string* error,
                   HttpCancellation* cancel);
  bool RequestTotp(const std::string& entry_id, std::string* code, std::string* error,
                   HttpCancellation* cancel, std::chrono::milliseconds deadline);

  // The WebSocket loop, until `stop` is set: connects with the current identity, handles the
  // events, reconnects after a wait. `on_event` is told of list changes and of connections.
  void RunSession(const std::atomic<bool>& stop,
                  const std::function<void(GkEventKind kind)>& on_event);
  // Wakes RunSession's waits and drops its socket (shutdown sets the stop flag first).
  void Interrupt();

 private:
  struct Identity {
    std::string connection_id;
    SignKeyPair sign;
    BoxKeyPair box;
    uint64_t generation = 0;
  };
  struct Account {
    std::string app_id;
    std::string safe_id;
    std::string nickname;
    std::string safe_enc_pk;
    std::string account_key;
  };

  Identity CopyIdentity() const;
  bool Endpoints(GkEndpoints* endpoints, std::string* error) const;
  // The sealed request with a given identity.
  bool RequestAs(const Identity& identity, std::string_view destination, const PackValue& body,
                 PackValue* response_body, std::string* error, HttpCancellation* cancellation);
  bool RunTotpExchange(const std::string& entry_id, std::string* code, std::string* error,
                       HttpCancellation* cancel, std::chrono::milliseconds deadline);

  // One WebSocket connection's life; false when it could not connect.
  bool ServeConnection(const std::atomic<bool>& stop, const Identity& identity,
                       const std::function<void(GkEventKind)>& on_event);
  // Handles one event; false when the connection must end (the identity changed).
  bool HandleEvent(GkWebSocket& socket, const Identity& identity, const GkEndpoints& endpoints,
                   const GkEvent& event, const std::function<void(GkEventKind)>& on_event);
  bool CompletePairing(const Identity& identity, const PackValue& result, std::string* error);
  void SendSealed(GkWebSocket& socket, const Identity& identity, const GkEndpoints& endpoints,
                  std::string_view destination, const PackValue& body);
  // Waits on the wake-up condition until woken, `stop` is set or `timeout` passes.
  void WaitForWake(const std::atomic<bool>& stop, std::chrono::milliseconds timeout);
  // Wakes the worker and makes it drop its current socket (the identity changed).
  void ResetConnection();

  // Persistence (state mutex held).
  bool Persist(std::string_view item, std::string_view bytes);
  void ForgetItem(std::string_view item);
  void ClearAccount();
  // Unpairs in memory and on disk.
  void ForgetIdentity();

  const DpapiStore store_;
  const GkEndpointsSource endpoints_;
  const GkTiming timing_;
  GkHttp http_;

  mutable std::mutex state_mutex_;
  std::condition_variable pairing_changed_;
  Identity identity_;
  Account account_;
  std::optional<uint64_t> temporary_connected_;  // the generation whose tmp socket is connected
  std::string pairing_error_;
  std::string list_version_;
  std::vector<TwoFactorEntry> entries_;
  bool list_ready_ = false;

  std::mutex session_mutex_;
  std::condition_variable session_wake_;
  bool wake_pending_ = false;
  GkWebSocket* socket_ = nullptr;  // the worker's socket while it is open
};

}  // namespace kavi::win
