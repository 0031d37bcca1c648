// SPDX-License-Identifier: Apache-2.0
// The GKS envelope: how application data travels between the companion client and the companion
// service. A request's body is boxed from the app's box key to the service's, and the boxed part
// is signed (Ed25519 over the SHA-256 of its canonical encoding); a response comes back the
// same way from the service. Also the app registration payload sent when pairing, and the check
// of the authorisation result the companion app returns.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/crypto.h"
#include "companion/pack_value.h"

namespace kavi::win {

inline constexpr char kInvalidGksRequest[] = "invalid GKS request";
inline constexpr char kMalformedGksResponse[] = "malformed GKS response";
inline constexpr char kMissingGksBox[] = "missing GKS box";
inline constexpr char kMalformedGksBody[] = "malformed GKS body";

// Keys of the envelope's maps, shared with the service side.
inline constexpr char kGksKey[] = "gks";
inline constexpr char kSealKey[] = "seal";
inline constexpr char kAppVersionKey[] = "app_ver";
inline constexpr char kBoxKey[] = "box";
inline constexpr char kIdKey[] = "id";
inline constexpr char kNonceKey[] = "n";
inline constexpr char kRawKey[] = "raw";
inline constexpr char kBodyKey[] = "body";
inline constexpr char kHeaderKey[] = "header";
inline constexpr char kToKey[] = "to";
inline constexpr char kFromKey[] = "from";
inline constexpr char kTimestampKey[] = "ts";

// The companion service's public keys (its end of every box and signature).
struct GksServiceKeys {
  std::string box_public_key;   // 32 bytes
  std::string sign_public_key;  // 32 bytes
};

// Seals `body` (a map) for `destination`: {"gks": {"app_ver", "box", "id", "n"}, "seal"}.
bool SealRequest(std::string_view app_id, std::string_view app_version,
                 std::string_view destination, const PackValue& body, const SignKeyPair& signing,
                 const BoxKeyPair& box, const GksServiceKeys& service, int64_t timestamp,
                 std::string* out, std::string* error);

// Verifies and opens a response sealed by the service: the plain text's "header" and "body"
// maps, and the binary elements of the envelope's optional "raw" array.
bool OpenResponse(std::string_view bytes, const BoxKeyPair& box, const GksServiceKeys& service,
                  PackValue* header, PackValue* body, std::vector<std::string>* raw,
                  std::string* error);

// The service's side of the same envelope: the request as the service opens it, and the
// response it seals for one app.
struct GksRequest {
  std::string id;  // the sender's connection id
  std::string app_version;
  PackValue header;  // "to" and "ts"
  PackValue body;
};

// The public keys of the app that sent a request, looked up by the request's id; false when the
// id is unknown.
using GksAppKeyLookup = std::function<bool(std::string_view id, std::string* sign_public_key,
                                           std::string* box_public_key)>;

inline constexpr char kUnknownGksSender[] = "unknown GKS sender";
inline constexpr char kMalformedGksRequest[] = "malformed GKS request";

// Verifies a request against its sender's signing key and opens it with the service's box key.
bool OpenRequest(std::string_view bytes, const GksAppKeyLookup& lookup,
                 std::string_view service_box_secret_key, GksRequest* request, std::string* error);

// Seals `body` for the app that owns `app_box_public_key`, from the event or destination `from`;
// `raw` goes into the envelope's "raw" array unboxed.
bool SealResponse(std::string_view from, const PackValue& body, const std::vector<std::string>& raw,
                  const SignKeyPair& service_signing, std::string_view service_box_secret_key,
                  std::string_view app_box_public_key, int64_t timestamp, std::string* out,
                  std::string* error);

// The payload that registers this app with the companion service.
std::string AppRegistrationPayload(std::string_view sign_public_key,
                                   std::string_view box_public_key, std::string_view app_name);

// What an approved authorisation result gives this app.
struct AppAuthResult {
  std::string app_id;
  std::string safe_id;
  std::string nickname;
  std::string safe_enc_pk;         // 32 bytes
  std::string sealed_account_key;  // boxed from safe_enc_pk to this app's box key
};

// Checks the map the companion app returns when the user approves this app.
bool CheckAppAuthResult(const PackValue* result, AppAuthResult* out, std::string* error);

}  // namespace kavi::win
