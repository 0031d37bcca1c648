// SPDX-License-Identifier: Apache-2.0
#include "service/totp.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cctype>
#include <charconv>

namespace kavi::service {
namespace {

constexpr int kMinDigits = 6;
constexpr int kMaxDigits = 8;
constexpr int kMaxPeriod = 3600;
constexpr std::string_view kScheme = "otpauth://";

bool Fail(std::string* error, const char* message) {
  *error = message;
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool PercentDecode(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out->push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

bool ParseNumber(std::string_view text, int* value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

const char* AlgorithmName(TotpAlgorithm algorithm) {
  switch (algorithm) {
    case TotpAlgorithm::kSha256:
      return "SHA256";
    case TotpAlgorithm::kSha512:
      return "SHA512";
    case TotpAlgorithm::kSha1:
      break;
  }
  return "SHA1";
}

bool AlgorithmFromName(std::string_view name, TotpAlgorithm* algorithm) {
  const std::string lower = Lower(name);
  if (lower == "sha1") {
    *algorithm = TotpAlgorithm::kSha1;
  } else if (lower == "sha256") {
    *algorithm = TotpAlgorithm::kSha256;
  } else if (lower == "sha512") {
    *algorithm = TotpAlgorithm::kSha512;
  } else {
    return false;
  }
  return true;
}

std::string TotpCode(const TotpSecret& secret, int64_t unix_time) {
  const uint64_t counter = static_cast<uint64_t>(unix_time / secret.period);
  unsigned char message[8];
  for (int i = 0; i < 8; ++i) message[i] = static_cast<unsigned char>(counter >> (56 - 8 * i));
  const EVP_MD* digest = secret.algorithm == TotpAlgorithm::kSha256   ? EVP_sha256()
                         : secret.algorithm == TotpAlgorithm::kSha512 ? EVP_sha512()
                                                                      : EVP_sha1();
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_length = 0;
  HMAC(digest, secret.key.data(), static_cast<int>(secret.key.size()), message, sizeof message, mac,
       &mac_length);
  // Dynamic truncation (RFC 4226, 5.3).
  const int offset = mac[mac_length - 1] & 0x0F;
  const uint32_t binary = (static_cast<uint32_t>(mac[offset] & 0x7F) << 24) |
                          (static_cast<uint32_t>(mac[offset + 1]) << 16) |
                          (static_cast<uint32_t>(mac[offset + 2]) << 8) | mac[offset + 3];
  uint32_t modulus = 1;
  for (int i = 0; i < secret.digits; ++i) modulus *= 10;
  std::string code = std::to_string(binary % modulus);
  return std::string(static_cast<size_t>(secret.digits) - code.size(), '0') + code;
}

bool DecodeBase32(std::string_view text, std::string* bytes) {
  bytes->clear();
  uint32_t bits = 0;
  int count = 0;
  bool padding = false;
  for (char c : text) {
    if (c == ' ') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    if (padding) return false;  // nothing after the padding
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int value = -1;
    if (upper >= 'A' && upper <= 'Z') value = upper - 'A';
    if (upper >= '2' && upper <= '7') value = upper - '2' + 26;
    if (value < 0) return false;
    bits = (bits << 5) | static_cast<uint32_t>(value);
    count += 5;
    if (count >= 8) {
      count -= 8;
      bytes->push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return true;
}

bool ParseOtpAuthUri(std::string_view uri, OtpAuthEntry* entry, std::string* error) {
  *entry = OtpAuthEntry();
  if (uri.size() < kScheme.size() || Lower(uri.substr(0, kScheme.size())) != kScheme)
    return Fail(error, "not an otpauth:// URI");
  std::string_view rest = uri.substr(kScheme.size());
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return Fail(error, "otpauth URI has no label");
  if (Lower(rest.substr(0, slash)) != "totp") return Fail(error, "only TOTP entries are supported");
  rest.remove_prefix(slash + 1);
  const size_t question = rest.find('?');
  std::string label;
  if (!PercentDecode(rest.substr(0, question), &label))
    return Fail(error, "otpauth URI has an invalid escape");
  if (const size_t colon = label.find(':'); colon != std::string::npos) {
    entry->issuer = label.substr(0, colon);
    entry->account = label.substr(colon + 1);
    while (!entry->account.empty() && entry->account.front() == ' ') entry->account.erase(0, 1);
  } else {
    entry->account = label;
  }

  bool have_secret = false;
  std::string_view query = question == std::string_view::npos ? "" : rest.substr(question + 1);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? "" : query.substr(amp + 1);
    const size_t equals = pair.find('=');
    std::string name, value;
    if (!PercentDecode(pair.substr(0, equals), &name) ||
        !PercentDecode(equals == std::string_view::npos ? "" : pair.substr(equals + 1), &value))
      return Fail(error, "otpauth URI has an invalid escape");
    name = Lower(name);
    if (name == "secret") {
      if (!DecodeBase32(value, &entry->secret.key) || entry->secret.key.empty())
        return Fail(error, "otpauth secret is not base32");
      have_secret = true;
    } else if (name == "issuer") {
      entry->issuer = value;
    } else if (name == "algorithm") {
      if (!AlgorithmFromName(value, &entry->secret.algorithm))
        return Fail(error, "otpauth algorithm must be SHA1, SHA256 or SHA512");
    } else if (name == "digits") {
      if (!ParseNumber(value, &entry->secret.digits) || entry->secret.digits < kMinDigits ||
          entry->secret.digits > kMaxDigits)
        return Fail(error, "otpauth digits must be 6 to 8");
    } else if (name == "period") {
      if (!ParseNumber(value, &entry->secret.period) || entry->secret.period < 1 ||
          entry->secret.period > kMaxPeriod)
        return Fail(error, "otpauth period must be 1 to 3600 seconds");
    }
  }
  if (!have_secret) return Fail(error, "otpauth URI has no secret");
  error->clear();
  return true;
}

}  // namespace kavi::service
