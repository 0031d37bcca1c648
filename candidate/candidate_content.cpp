// SPDX-License-Identifier: Apache-2.0
#include "candidate/candidate_content.h"

#include <algorithm>

namespace kavi::win {

int CandidateContent::RowCount() const {
  if (panel_mode) return static_cast<int>(panel_rows.size());
  const uint32_t count = reply.candidate_count;  // a packed field: read it by value
  return static_cast<int>(std::min<uint32_t>(count, kMaxCandidateSlots));
}

int CandidateContent::HighlightedRow() const {
  if (panel_mode) return panel_highlighted;
  return reply.highlighted > static_cast<uint32_t>(kMaxCandidateSlots)
             ? -1
             : static_cast<int>(reply.highlighted);
}

std::string_view CandidateContent::RowText(int row) const {
  if (panel_mode) return panel_rows[static_cast<size_t>(row)].text;
  return TextFieldView(reply.candidates[row].text);
}

std::string_view CandidateContent::RowComment(int row) const {
  if (panel_mode) return panel_rows[static_cast<size_t>(row)].comment;
  return TextFieldView(reply.candidates[row].comment);
}

PipeResponse EmptyReply() {
  PipeResponse reply{};
  reply.magic = kPipeMagic;
  reply.version = kProtocolVersion;
  reply.kind = static_cast<uint16_t>(ReplyKind::Refused);
  reply.size = kResponseSize;
  reply.tail_flag = 1;
  return reply;
}

}  // namespace kavi::win
