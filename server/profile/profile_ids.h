// SPDX-License-Identifier: Apache-2.0
// The identity of the input method's text service, shared by the server (which registers the
// profile) and the client side (which registers the text service under the same ids). These
// values are fixed for good: changing them orphans every user's registered profile.
#pragma once

#include <cstdint>

namespace kavi::win {

// Simplified Chinese (PRC).
inline constexpr uint16_t kProfileLanguageId = 0x0804;
// The text service's class id and its language profile, in the braced registry form.
inline constexpr char kTextServiceClassId[] = "{CF9234EA-948E-415C-B583-9904E5FA7B96}";
inline constexpr char kLanguageProfileGuid[] = "{FFCA0B32-E855-4647-899E-1782D12B2E70}";

}  // namespace kavi::win
