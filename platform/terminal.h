// SPDX-License-Identifier: Apache-2.0
// The terminal on standard input in raw mode: no line editing, no echo, no signal keys, so each
// key press arrives as it is typed.
#pragma once

#include <memory>
#include <optional>

namespace kavi::win {

class RawTerminal {
 public:
  enum class InputWait { kReady, kTimedOut, kFailed };

  // Switches standard input to raw mode when it is a terminal; active() tells whether it did.
  RawTerminal();
  // Restores the terminal's settings.
  ~RawTerminal();
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

  bool active() const { return saved_ != nullptr; }

  // Waits up to `timeout_ms` for a byte to read.
  InputWait WaitForInput(int timeout_ms) const;
  // Reads one byte, waiting for it; nullopt at the end of input or on an error.
  std::optional<unsigned char> ReadByte();
  // Puts back a byte read too early (the key after a lone Escape): the next wait returns at
  // once and the next read returns it.
  void Unread(unsigned char byte) { unread_ = byte; }

 private:
  std::optional<unsigned char> unread_;
  // The settings to restore; null when raw mode is not on.
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

}  // namespace kavi::win
