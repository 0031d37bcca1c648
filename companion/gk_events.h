// SPDX-License-Identifier: Apache-2.0
// The events the companion service pushes over the WebSocket: each message is a GKS response
// envelope whose header's "from" names the event.
#pragma once

#include <string>
#include <string_view>

#include "companion/gks_envelope.h"
#include "companion/pack_value.h"

namespace kavi::win {

inline constexpr char kEventPing[] = "ping";
inline constexpr char kEventConnected[] = "connected";
inline constexpr char kEventAppAuthResult[] = "app_auth_result";
inline constexpr char kEventFileListUpdated[] = "file_list_updated";
inline constexpr char kEventAppScopeUpdated[] = "app_scope_updated";
inline constexpr char kEventAppDeleted[] = "app_deleted";
// What the client sends back: a sealed message to "pong" answering a ping, and to "ack" with
// the "ack_id" of an event that asks for one.
inline constexpr char kDestinationPong[] = "pong";
inline constexpr char kDestinationAck[] = "ack";
inline constexpr char kAckIdKey[] = "ack_id";

enum class GkEventKind {
  kPing,
  kConnected,
  kAppAuthResult,
  kFileListUpdated,
  kAppScopeUpdated,
  kAppDeleted,
  kOther,  // an event this client does not know: ignored
};

struct GkEvent {
  GkEventKind kind = GkEventKind::kOther;
  std::string name;  // the header's "from"
  PackValue body;
};

inline constexpr char kMissingEventName[] = "GK event has no sender";

// Opens one WebSocket message. False with the envelope's or the codec's error, or when the
// header has no "from" string.
bool ReadGkEvent(std::string_view message, const BoxKeyPair& box, const GksServiceKeys& service,
                 GkEvent* event, std::string* error);

}  // namespace kavi::win
