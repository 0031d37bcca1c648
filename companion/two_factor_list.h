// SPDX-License-Identifier: Apache-2.0
// The 2FA list as the companion service sends it, and the code in an approved TOTP answer:
// reading "file_list" replies into TwoFactorEntry records, keeping the cached list up to date,
// and opening the code sealed under the account key.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "companion/pack_value.h"
#include "protocol/two_factor_entry.h"

namespace kavi::win {

inline constexpr char kTotpNoUsableCode[] = "TOTP response did not contain a usable code";

// Keys of the list and code replies, shared with the companion service.
inline constexpr char kListVersionKey[] = "list_ver";
inline constexpr char kFileListKey[] = "file_list";
inline constexpr char kDeletedKey[] = "deleted";
inline constexpr char kDataPlainKey[] = "data_plain";
inline constexpr char kTotpDataKey[] = "totp_data";
// What an entry's plain data holds (a MessagePack map).
inline constexpr char kIssuerKey[] = "issuer";
inline constexpr char kAccountKey[] = "account";
inline constexpr char kLabelKey[] = "label";

// "list_ver" as text: a string as it is, an integer in decimal; empty when absent.
std::string ListVersionOf(const PackValue& body);

// The entries of "file_list" in order: elements that are not maps, and items without "id" and
// "type" strings, are skipped; "status" defaults to "active"; only string flags are kept.
std::vector<TwoFactorEntry> EntriesOf(const PackValue& body);
// The ids named by "deleted".
std::vector<std::string> DeletedIdsOf(const PackValue& body);

// Applies a reply to the cached list: a full list (the reply to a request without a version)
// replaces it; otherwise each received entry replaces the one with its id or is appended, and
// deleted ids are removed.
void MergeTwoFactorList(std::vector<TwoFactorEntry>* cached, std::vector<TwoFactorEntry> received,
                        const std::vector<std::string>& deleted, bool full);

// The name and account the pages show, from the plain data: a map's "issuer" (else "label")
// and "account"; a text "Issuer:account"; else the entry's id.
void DescribeTwoFactorEntry(TwoFactorEntry* entry);

// The code for `entry_id` in the "list" of a "done" answer, opened with the account key.
bool CodeFromTotpAnswer(const PackValue& body, std::string_view entry_id,
                        std::string_view account_key, std::string* code, std::string* error);

}  // namespace kavi::win
