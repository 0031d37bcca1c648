// SPDX-License-Identifier: Apache-2.0
// One-time codes as the companion computes them: RFC 6238 TOTP over HMAC-SHA1, -SHA256 or
// -SHA512, and the otpauth:// URIs that authenticator setups hand out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavi::service {

enum class TotpAlgorithm { kSha1, kSha256, kSha512 };

struct TotpSecret {
  std::string key;  // the shared secret's bytes
  TotpAlgorithm algorithm = TotpAlgorithm::kSha1;
  int digits = 6;   // 6 to 8
  int period = 30;  // seconds
};

// The code at `unix_time`, `digits` long with leading zeros.
std::string TotpCode(const TotpSecret& secret, int64_t unix_time);

struct OtpAuthEntry {
  std::string issuer;   // may be empty
  std::string account;  // may be empty
  TotpSecret secret;
};

// otpauth://totp/LABEL?secret=BASE32[&issuer=..][&algorithm=SHA1|SHA256|SHA512][&digits=6..8]
// [&period=N]; LABEL is "issuer:account" or "account", percent-encoded. False with the reason.
bool ParseOtpAuthUri(std::string_view uri, OtpAuthEntry* entry, std::string* error);

// RFC 4648 base32, case-insensitive, padding and spaces optional.
bool DecodeBase32(std::string_view text, std::string* bytes);

const char* AlgorithmName(TotpAlgorithm algorithm);
bool AlgorithmFromName(std::string_view name, TotpAlgorithm* algorithm);

}  // namespace kavi::service
