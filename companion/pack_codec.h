// SPDX-License-Identifier: Apache-2.0
// MessagePack as the companion protocol speaks it. Decoding accepts a strict subset (no floats,
// no extension types) within fixed limits; encoding is canonical, so that one value always
// gives the same bytes: envelopes sign the re-encoded bytes of what they carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "companion/pack_value.h"

namespace kavi::win {

inline constexpr size_t kPackMaxInputBytes = 8388608;  // 8 MiB
inline constexpr uint64_t kPackMaxLength = 0x800000;   // of a 16- or 32-bit length field
inline constexpr uint32_t kPackMaxEntries = 100000;    // of one array or map
inline constexpr int kPackMaxDepth = 64;               // the top value is at depth 0

// Decodes exactly one value from `bytes`. False with the reason ("unexpected end", "invalid
// UTF-8 string", ...) in `error` and `value` nil; on success `error` is cleared. Map members
// may arrive in any order; they are kept sorted.
bool PackDecode(std::string_view bytes, PackValue* value, std::string* error);
// The same, except that strings and byte strings longer than a value's inline size are not
// copied: they point into `bytes`, which must outlive the value and every move of it (copies
// own their bytes). For a document that is read and dropped while its bytes are at hand, such
// as an envelope around a large sealed box.
bool PackDecodeBorrowed(std::string_view bytes, PackValue* value, std::string* error);

// The canonical encoding: the shortest form of every number, string, byte string and
// container, non-negative signed integers written as unsigned, map members in key order.
std::string PackEncode(const PackValue& value);
// The same, appended to `out`.
void PackEncodeTo(const PackValue& value, std::string* out);

}  // namespace kavi::win
