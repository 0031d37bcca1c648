// SPDX-License-Identifier: Apache-2.0
// Key events of an input-method framework in the wire's terms.
#pragma once

#include <cstdint>

namespace kavi::win {

// Modifier bits as IBus, Fcitx and X11 report them (the X11 core state mask, with IBus's
// Super and release bits).
namespace framework_state {
inline constexpr uint32_t kShift = 1u << 0;
inline constexpr uint32_t kLock = 1u << 1;
inline constexpr uint32_t kControl = 1u << 2;
inline constexpr uint32_t kMod1 = 1u << 3;  // Alt on every common keyboard map
inline constexpr uint32_t kMod4 = 1u << 6;  // Super on every common keyboard map
inline constexpr uint32_t kSuper = 1u << 26;
inline constexpr uint32_t kRelease = 1u << 30;
}  // namespace framework_state

// The wire's modifier mask for a framework state: Control, Alt, Super and the release bit.
// Shift and Caps Lock have no bit: the keysym already says which character the key makes.
uint32_t WireModifiers(uint32_t state);

}  // namespace kavi::win
