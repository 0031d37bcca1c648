// SPDX-License-Identifier: Apache-2.0
// How the companion client names its connection to the companion service, and the signed path
// that opens its WebSocket: "tmp." + the temporary id while pairing, "app." + the app id once
// paired.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kPairingPrefix[] = "tmp.";
inline constexpr char kPairedPrefix[] = "app.";
inline constexpr char kWebSocketPathPrefix[] = "/v3/ws?sig=";
inline constexpr char kSignatureEncodingFailed[] = "GK WebSocket signature encoding failed";

bool IsPairedConnectionId(std::string_view connection_id);
bool IsPairingConnectionId(std::string_view connection_id);

// The connection id of an app id: an id that already starts with "app." (and has more after
// it) as it is; an id holding a "." otherwise is invalid (false); any other non-empty id gets
// the "app." prefix.
bool ConnectionIdFromAppId(std::string_view app_id, std::string* connection_id);

// base64url without padding or line breaks.
std::string Base64Url(std::string_view bytes);
// The inverse; false on characters outside the alphabet or an impossible length.
bool DecodeBase64Url(std::string_view text, std::string* bytes);

// "/v3/ws?sig=" + base64url of the signed message (signature ‖ connection id + "." + unix
// seconds) under the signing secret key. Only "app." and "tmp." ids may connect.
bool SignedWebSocketPath(std::string_view connection_id, std::string_view sign_secret_key,
                         int64_t unix_seconds, std::string* path, std::string* error);

}  // namespace kavi::win
