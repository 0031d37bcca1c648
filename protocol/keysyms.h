// SPDX-License-Identifier: Apache-2.0
// Key symbols and modifier bits as the wire carries them: X11 keysyms, printable ASCII as
// itself, and the client's modifier mask. Shift has no bit: an upper-case letter keysym already
// says Shift+letter. The server, the engine and the plug-ins all read keys through these names.
#pragma once

#include <cstdint>

namespace kavi::win::keys {

inline constexpr uint32_t kSpace = 0x20;
inline constexpr uint32_t kBacktick = '`';
inline constexpr uint32_t kBackSpace = 0xFF08;
inline constexpr uint32_t kTab = 0xFF09;
inline constexpr uint32_t kReturn = 0xFF0D;
inline constexpr uint32_t kEscape = 0xFF1B;
inline constexpr uint32_t kHome = 0xFF50;
inline constexpr uint32_t kLeft = 0xFF51;
inline constexpr uint32_t kUp = 0xFF52;
inline constexpr uint32_t kRight = 0xFF53;
inline constexpr uint32_t kDown = 0xFF54;
inline constexpr uint32_t kPageUp = 0xFF55;
inline constexpr uint32_t kPageDown = 0xFF56;
inline constexpr uint32_t kEnd = 0xFF57;
inline constexpr uint32_t kKeypadEnter = 0xFF8D;
inline constexpr uint32_t kKeypad1 = 0xFFB1;
inline constexpr uint32_t kKeypad5 = 0xFFB5;
inline constexpr uint32_t kShiftL = 0xFFE1;
inline constexpr uint32_t kShiftR = 0xFFE2;
inline constexpr uint32_t kCapsLock = 0xFFE5;
inline constexpr uint32_t kDelete = 0xFFFF;
// The dictation key of the front ends: it starts and stops voice input.
inline constexpr uint32_t kF8 = 0xFFC5;

inline constexpr uint32_t kControlMask = 0x4;
inline constexpr uint32_t kAltMask = 0x8;
inline constexpr uint32_t kSuperMask = 0x4000000;
inline constexpr uint32_t kReleaseMask = 0x40000000;
inline constexpr uint32_t kChordMask = kControlMask | kAltMask | kSuperMask;  // 0x400000C

// Shift, Control, Caps/Shift Lock, Meta, Alt, Super and Hyper keysyms.
inline bool IsModifierKey(uint32_t keysym) {
  return (keysym >= 0xFFE1 && keysym <= 0xFFE4) || (keysym >= 0xFFE7 && keysym <= 0xFFEC);
}

}  // namespace kavi::win::keys
