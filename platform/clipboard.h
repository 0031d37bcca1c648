// SPDX-License-Identifier: Apache-2.0
// Reading the desktop's clipboard: the X11 CLIPBOARD selection as UTF-8 text.
#pragma once

#include <string>

namespace kavi::win {

// The clipboard's text; empty when there is no display, no owner, no text, or the owner does
// not answer within half a second. At most 1 MiB is read.
std::string ReadClipboardText();

}  // namespace kavi::win
