// SPDX-License-Identifier: Apache-2.0
#include "candidate/pointer_commands.h"

namespace kavi::win {

std::optional<PointerCommand> ClickCommand(const CandidateContent& content,
                                           const CandidateLayout& layout, double x, double y) {
  if (!content.panel_mode && layout.paging) {
    if (!layout.previous_page.Empty() && layout.previous_page.Contains(x, y)) {
      if (content.reply.page_number >= 1) return PointerCommand{ServerCommand::ChangePage, -1};
      return std::nullopt;
    }
    if (!layout.next_page.Empty() && layout.next_page.Contains(x, y)) {
      if (content.reply.last_page == 0) return PointerCommand{ServerCommand::ChangePage, +1};
      return std::nullopt;
    }
  }
  const int row = HitTestRow(layout, x, y, content.RowCount());
  if (row < 0) return std::nullopt;
  return PointerCommand{
      content.panel_mode ? ServerCommand::SelectPanelRow : ServerCommand::SelectCandidate, row};
}

std::optional<PointerCommand> HoverCommand(const CandidateContent& content,
                                           const CandidateLayout& layout, double x, double y,
                                           int* hovered) {
  const int row = HitTestRow(layout, x, y, content.RowCount());
  if (row < 0 || row == *hovered) return std::nullopt;
  *hovered = row;
  return PointerCommand{
      content.panel_mode ? ServerCommand::HighlightPanelRow : ServerCommand::HighlightCandidate,
      row};
}

PointerCommand WheelCommand(int delta) {
  return PointerCommand{ServerCommand::ChangePage, delta > 0 ? -1 : +1};
}

}  // namespace kavi::win
