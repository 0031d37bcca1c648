// SPDX-License-Identifier: Apache-2.0
// The language the window's texts are shaped in. A CJK font draws many characters differently
// for the mainland, Taiwan and Hong Kong; the tag picks the forms readers of the output expect.
#pragma once

#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kSimplifiedTextLanguage[] = "zh-cn";
inline constexpr char kTraditionalTextLanguage[] = "zh-tw";
inline constexpr char kHongKongTextLanguage[] = "zh-hk";

// Simplified output reads as mainland text; traditional output as Taiwan's, or as Hong Kong's
// (and Macao's) when the desktop's locale is from there.
std::string TextLanguageFor(bool simplified, std::string_view locale);

}  // namespace kavi::win
