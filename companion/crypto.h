// SPDX-License-Identifier: Apache-2.0
// The libsodium operations of the companion protocol, each with its own error messages: public-key
// boxes (X25519 + XSalsa20-Poly1305), secret boxes, Ed25519 signatures over a message, SHA-256,
// random bytes and secure zeroing. Byte arrays are std::string. Every operation initialises the
// library on first use; on failure it returns false, fills `error` and leaves its outputs empty.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr size_t kBoxPublicKeyBytes = 32;
inline constexpr size_t kBoxSecretKeyBytes = 32;
inline constexpr size_t kBoxNonceBytes = 24;
inline constexpr size_t kBoxMacBytes = 16;
inline constexpr size_t kSignPublicKeyBytes = 32;
inline constexpr size_t kSignSecretKeyBytes = 64;
inline constexpr size_t kSignatureBytes = 64;
inline constexpr size_t kSecretBoxKeyBytes = 32;
inline constexpr size_t kSha256Bytes = 32;

inline constexpr char kSodiumInitFailed[] = "libsodium initialization failed";
inline constexpr char kInvalidBoxKey[] = "invalid box key";
inline constexpr char kInvalidBoxInput[] = "invalid box input";
inline constexpr char kBoxAuthenticationFailed[] = "box authentication failed";
inline constexpr char kInvalidSecretBoxInput[] = "invalid secretbox input";
inline constexpr char kSecretBoxAuthenticationFailed[] = "secretbox authentication failed";
inline constexpr char kInvalidSigningKey[] = "invalid signing key";
inline constexpr char kInvalidSignedMessage[] = "invalid signed message";
inline constexpr char kSignatureVerificationFailed[] = "signature verification failed";

struct BoxKeyPair {
  std::string public_key;  // 32 bytes
  std::string secret_key;  // 32 bytes
};

struct SignKeyPair {
  std::string public_key;  // 32 bytes
  std::string secret_key;  // 64 bytes
};

bool GenerateBoxKeyPair(BoxKeyPair* out, std::string* error);
bool GenerateSignKeyPair(SignKeyPair* out, std::string* error);

// Encrypts `plain` from the owner of `own_secret` to the owner of `peer_public` under a fresh
// random nonce; `cipher` is the plain text's length + 16.
bool BoxSeal(std::string_view plain, std::string_view peer_public, std::string_view own_secret,
             std::string* nonce, std::string* cipher, std::string* error);
// Opens nonce (24) ‖ cipher; inputs under 40 bytes are refused before the library sees them.
bool BoxOpen(std::string_view nonce_and_cipher, std::string_view peer_public,
             std::string_view own_secret, std::string* plain, std::string* error);

// nonce (24, random) ‖ cipher under a 32-byte key.
bool SecretBoxSeal(std::string_view plain, std::string_view key, std::string* nonce_and_cipher,
                   std::string* error);
bool SecretBoxOpen(std::string_view nonce_and_cipher, std::string_view key, std::string* plain,
                   std::string* error);

// signature (64) ‖ message.
bool SignMessage(std::string_view message, std::string_view secret_key, std::string* signed_message,
                 std::string* error);
// True when `signed_message` carries a valid signature by `public_key` over exactly
// `expected_message` (compared in constant time).
bool VerifySigned(std::string_view signed_message, std::string_view public_key,
                  std::string_view expected_message, std::string* error);

// The 32-byte digest.
std::string Sha256Digest(std::string_view bytes);
// `count` bytes from the system's random source; empty when the library cannot start.
std::string RandomBytes(size_t count);

// Equal bytes, compared in constant time for strings of one length.
bool ConstantTimeEqual(std::string_view a, std::string_view b);

// Zeroes the bytes with the library's secure zeroing, then empties the string.
void Wipe(std::string* bytes);

// Wipes a string when the scope ends, whichever way it ends.
class ScopedWipe {
 public:
  explicit ScopedWipe(std::string* bytes) : bytes_(bytes) {}
  ~ScopedWipe() { Wipe(bytes_); }
  ScopedWipe(const ScopedWipe&) = delete;
  ScopedWipe& operator=(const ScopedWipe&) = delete;

 private:
  std::string* bytes_;
};

}  // namespace kavi::win
