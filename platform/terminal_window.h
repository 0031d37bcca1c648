// SPDX-License-Identifier: Apache-2.0
// Where the terminal that shows this program is on the screen, so that a terminal front end can
// tell the candidate window where its cursor cell is.
#pragma once

#include <memory>
#include <optional>

namespace kavi::win {

struct TerminalCellArea {
  int left = 0;  // the screen position of the terminal's first cell
  int top = 0;
  int cell_width = 0;
  int cell_height = 0;
};

class TerminalWindow {
 public:
  // The terminal's window is the one the terminal names in WINDOWID, else the X display's active
  // window. No display means no placement.
  TerminalWindow();
  ~TerminalWindow();
  TerminalWindow(const TerminalWindow&) = delete;
  TerminalWindow& operator=(const TerminalWindow&) = delete;

  // The cells of the terminal on standard output, read afresh (windows move and resize): the
  // window's position on the screen, and the cell size from the terminal's own pixel size
  // (TIOCGWINSZ) when it reports one, else the window's size over the character grid.
  std::optional<TerminalCellArea> Cells() const;

 private:
  struct Connection;
  std::unique_ptr<Connection> connection_;
};

}  // namespace kavi::win
