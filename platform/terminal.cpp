// SPDX-License-Identifier: Apache-2.0
#include "platform/terminal.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

namespace kavi::win {

struct RawTerminal::Saved {
  termios settings{};
};

RawTerminal::RawTerminal() {
  auto saved = std::make_unique<Saved>();
  if (tcgetattr(STDIN_FILENO, &saved->settings) != 0) return;
  termios raw = saved->settings;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) saved_ = std::move(saved);
}

RawTerminal::~RawTerminal() {
  if (saved_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_->settings);
}

RawTerminal::InputWait RawTerminal::WaitForInput(int timeout_ms) const {
  if (unread_) return InputWait::kReady;
  pollfd input{STDIN_FILENO, POLLIN, 0};
  const int ready = ::poll(&input, 1, timeout_ms);
  if (ready == 0) return InputWait::kTimedOut;
  return ready > 0 ? InputWait::kReady : InputWait::kFailed;
}

std::optional<unsigned char> RawTerminal::ReadByte() {
  if (unread_) return std::exchange(unread_, std::nullopt);
  unsigned char byte;
  if (::read(STDIN_FILENO, &byte, 1) != 1) return std::nullopt;
  return byte;
}

}  // namespace kavi::win
