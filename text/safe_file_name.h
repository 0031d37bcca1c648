// SPDX-License-Identifier: Apache-2.0
// The names a downloaded file may have on disk (scheme pack files, voice model files): a plain
// name in one directory, never a path, never a name the program keeps for its own partial or
// marker files, never a device name.
#pragma once

#include <string_view>

namespace kavi::win {

inline constexpr size_t kMaxSafeFileNameBytes = 255;

// 1 to 255 bytes of A-Z, a-z, 0-9, '-', '.' and '_'; no leading or trailing '.', no "..";
// not ending in ".complete" or ".part"; a stem (up to the first '.') that is not CON, PRN,
// AUX, NUL, COM1 to COM9 or LPT1 to LPT9 in any case.
bool IsSafeFileName(std::string_view name);

}  // namespace kavi::win
