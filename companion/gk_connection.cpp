// SPDX-License-Identifier: Apache-2.0
#include "companion/gk_connection.h"

#include "companion/crypto.h"

namespace kavi::win {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int DigitValue(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

}  // namespace

bool IsPairedConnectionId(std::string_view connection_id) {
  return connection_id.starts_with(kPairedPrefix);
}

bool IsPairingConnectionId(std::string_view connection_id) {
  return connection_id.starts_with(kPairingPrefix);
}

bool ConnectionIdFromAppId(std::string_view app_id, std::string* connection_id) {
  connection_id->clear();
  if (app_id.starts_with(kPairedPrefix) && app_id.size() > 4) {
    *connection_id = app_id;
    return true;
  }
  if (app_id.empty() || app_id.find('.') != std::string_view::npos) return false;
  *connection_id = std::string(kPairedPrefix) + std::string(app_id);
  return true;
}

std::string Base64Url(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : bytes) {
    bits = (bits << 8) | c;
    count += 8;
    while (count >= 6) {
      count -= 6;
      out.push_back(kAlphabet[(bits >> count) & 0x3F]);
    }
  }
  if (count > 0) out.push_back(kAlphabet[(bits << (6 - count)) & 0x3F]);
  return out;
}

bool DecodeBase64Url(std::string_view text, std::string* bytes) {
  bytes->clear();
  if (text.size() % 4 == 1) return false;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const int value = DigitValue(c);
    if (value < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes->push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return true;
}

bool SignedWebSocketPath(std::string_view connection_id, std::string_view sign_secret_key,
                         int64_t unix_seconds, std::string* path, std::string* error) {
  path->clear();
  if (!IsPairedConnectionId(connection_id) && !IsPairingConnectionId(connection_id)) {
    *error = kSignatureEncodingFailed;
    return false;
  }
  std::string signed_message;
  const std::string message = std::string(connection_id) + "." + std::to_string(unix_seconds);
  if (!SignMessage(message, sign_secret_key, &signed_message, error)) {
    *error = kSignatureEncodingFailed;
    return false;
  }
  *path = kWebSocketPathPrefix + Base64Url(signed_message);
  error->clear();
  return true;
}

}  // namespace kavi::win
