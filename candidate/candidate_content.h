// SPDX-License-Identifier: Apache-2.0
// What one layout and paint of the candidate window reads: a snapshot taken under the window
// lock, so drawing never races the sessions that feed the window.
#pragma once

#include <string_view>
#include <vector>

#include "ports/candidate_window_port.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

inline constexpr int kMaxPanelRows = 160;
inline constexpr int kMaxRowsPerPage = 16;

struct CandidateContent {
  PipeResponse reply{};
  bool horizontal = true;
  bool panel_mode = false;
  std::vector<PanelItem> panel_rows;
  int panel_highlighted = 0;
  int panel_rows_per_page = 1;
  bool panel_row_major = true;

  // Rows the window shows: the panel's rows, else the reply's candidate count capped at 16.
  int RowCount() const;
  int HighlightedRow() const;
  std::string_view RowText(int row) const;
  std::string_view RowComment(int row) const;
};

// The empty record the window starts with and returns to when it hides.
PipeResponse EmptyReply();

}  // namespace kavi::win
