// SPDX-License-Identifier: Apache-2.0
// What a client session needs from the candidate window. The window implements it; tests
// substitute a recorder. Every operation may be called from any thread and never blocks on
// drawing.
#pragma once

#include <string>
#include <vector>

#include "protocol/pipe_records.h"

namespace kavi::win {

struct PanelItem {
  std::string text;
  std::string comment;
};

class CandidateWindowPort {
 public:
  virtual ~CandidateWindowPort() = default;

  // Shows the reply (an empty reply hides the window).
  virtual void ShowReply(const PipeResponse& reply) = 0;
  virtual void SetAnchor(const ScreenRect& caret, bool has_anchor) = 0;
  virtual void ShowExpandedPanel(std::vector<PanelItem> rows, int highlighted, int rows_per_page,
                                 bool row_major) = 0;
  virtual void SetPanelHighlight(int row) = 0;
  virtual void ClearExpandedPanel() = 0;
  // Hides the window: an empty reply, no anchor, no panel.
  virtual void ClearContent() = 0;
  virtual void SetTheme(const std::string& theme_id, bool horizontal,
                        const std::string& background_image_path) = 0;
  virtual void PreviewTheme(const std::string& theme_id, bool horizontal,
                            const ScreenRect& anchor) = 0;
};

}  // namespace kavi::win
