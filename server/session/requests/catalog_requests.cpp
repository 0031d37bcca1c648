// SPDX-License-Identifier: Apache-2.0
#include "server/session/requests/catalog_requests.h"

#include <string>
#include <vector>

#include "platform/log.h"
#include "server/session/requests/request_replies.h"

namespace kavi::win {
namespace {

// One page of the list, from the index in the request's argument; the reply's value is the
// total, so a negative start asks for the count alone.
PipeResponse CatalogReply(const PipeRequest& request, const std::vector<CatalogEntry>& entries) {
  if (entries.empty()) {
    LogLine("[Kavi] 無法建立設定目錄清單\n");
    return RefusedReply(request);
  }
  PipeResponse reply = StatusReply(request, static_cast<uint32_t>(entries.size()));
  const auto start = static_cast<int32_t>(request.argument);
  if (start < 0) return reply;
  uint32_t filled = 0;
  for (size_t i = static_cast<size_t>(start); i < entries.size() && filled < kMaxCandidateSlots;
       ++i, ++filled) {
    CopyTextField(reply.candidates[filled].text, entries[i].id);
    CopyTextField(reply.candidates[filled].comment, entries[i].detail);
  }
  reply.candidate_count = filled;
  return reply;
}

}  // namespace

bool IsCatalogRequest(RequestKind kind) {
  return kind == RequestKind::ListCatalog || kind == RequestKind::ListCatalogAlt ||
         kind == RequestKind::PreviewTheme;
}

PipeResponse HandleCatalogRequest(const PipeRequest& request, CatalogPort* catalog,
                                  CandidateWindowPort* window) {
  const auto kind = static_cast<RequestKind>(request.kind);
  if (!catalog) return RefusedReply(request);
  if (kind == RequestKind::PreviewTheme) {
    const std::string id(TextFieldView(request.text));
    if (!window || !catalog->IsValidThemeId(id)) return RefusedReply(request);
    const ScreenRect anchor = request.rect;  // a copy: the record's fields are packed
    window->PreviewTheme(id, request.argument != 0, anchor);
    return OkReply(request);
  }
  return CatalogReply(request, kind == RequestKind::ListCatalogAlt ? catalog->ListThemes()
                                                                   : catalog->ListSchemes());
}

}  // namespace kavi::win
