// SPDX-License-Identifier: Apache-2.0
// The check every start of the recogniser helper passes first: its detached signature must
// verify against the trust anchors and be made by the product's signer.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kavi::win {

inline constexpr char kHelperSignerName[] = "Norvale Inc.";
inline constexpr char kSignerUnreadableMessage[] = "無法讀取 Authenticode 簽署者";
inline constexpr char kSignerNameMessage[] = "Authenticode 主體不是 Norvale Inc.";
inline constexpr char kSignatureChainMessage[] = "helper Authenticode 簽名鏈驗證失敗：";

// True when "<executable>.p7s" is a valid signature of the file by a certificate named exactly
// "Norvale Inc.", chained to one of `anchors`; otherwise false with one of the messages above
// (the chain message followed by the failure code in decimal).
bool VerifyHelperSignature(const std::filesystem::path& executable,
                           const std::vector<std::filesystem::path>& anchors, std::string* error);

}  // namespace kavi::win
