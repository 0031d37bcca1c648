// SPDX-License-Identifier: Apache-2.0
#include "companion/gk_events.h"

#include <vector>

namespace kavi::win {
namespace {

GkEventKind KindOf(std::string_view name) {
  if (name == kEventPing) return GkEventKind::kPing;
  if (name == kEventConnected) return GkEventKind::kConnected;
  if (name == kEventAppAuthResult) return GkEventKind::kAppAuthResult;
  if (name == kEventFileListUpdated) return GkEventKind::kFileListUpdated;
  if (name == kEventAppScopeUpdated) return GkEventKind::kAppScopeUpdated;
  if (name == kEventAppDeleted) return GkEventKind::kAppDeleted;
  return GkEventKind::kOther;
}

}  // namespace

bool ReadGkEvent(std::string_view message, const BoxKeyPair& box, const GksServiceKeys& service,
                 GkEvent* event, std::string* error) {
  *event = GkEvent();
  PackValue header;
  PackValue body;
  std::vector<std::string> raw;
  if (!OpenResponse(message, box, service, &header, &body, &raw, error)) return false;
  const PackValue* from = header.Find(kFromKey);
  if (from == nullptr || !from->is_string() || from->bytes().empty()) {
    *error = kMissingEventName;
    return false;
  }
  event->name = from->bytes();
  event->kind = KindOf(event->name);
  event->body = std::move(body);
  error->clear();
  return true;
}

}  // namespace kavi::win
