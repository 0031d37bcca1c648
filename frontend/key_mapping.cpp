// SPDX-License-Identifier: Apache-2.0
#include "frontend/key_mapping.h"

#include "protocol/keysyms.h"

namespace kavi::win {

uint32_t WireModifiers(uint32_t state) {
  using namespace framework_state;
  uint32_t wire = 0;
  if (state & kControl) wire |= keys::kControlMask;
  if (state & kMod1) wire |= keys::kAltMask;
  if (state & (kMod4 | kSuper)) wire |= keys::kSuperMask;
  if (state & kRelease) wire |= keys::kReleaseMask;
  return wire;
}

}  // namespace kavi::win
