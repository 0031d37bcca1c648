// SPDX-License-Identifier: Apache-2.0
#include "companion/crypto.h"

#include <sodium.h>

namespace kavi::win {
namespace {

constexpr char kBoxKeyGenerationFailed[] = "box key generation failed";
constexpr char kSignKeyGenerationFailed[] = "sign key generation failed";
constexpr char kBoxEncryptionFailed[] = "box encryption failed";
constexpr char kSecretBoxEncryptionFailed[] = "secretbox encryption failed";
constexpr char kSigningFailed[] = "signing failed";

static_assert(crypto_box_PUBLICKEYBYTES == kBoxPublicKeyBytes);
static_assert(crypto_box_SECRETKEYBYTES == kBoxSecretKeyBytes);
static_assert(crypto_box_NONCEBYTES == kBoxNonceBytes);
static_assert(crypto_box_MACBYTES == kBoxMacBytes);
static_assert(crypto_sign_PUBLICKEYBYTES == kSignPublicKeyBytes);
static_assert(crypto_sign_SECRETKEYBYTES == kSignSecretKeyBytes);
static_assert(crypto_sign_BYTES == kSignatureBytes);
static_assert(crypto_secretbox_KEYBYTES == kSecretBoxKeyBytes);
static_assert(crypto_secretbox_NONCEBYTES == kBoxNonceBytes);
static_assert(crypto_secretbox_MACBYTES == kBoxMacBytes);
static_assert(crypto_hash_sha256_BYTES == kSha256Bytes);

// sodium_init is idempotent and thread-safe; its result is kept.
bool Ready(std::string* error) {
  static const bool ready = sodium_init() >= 0;
  if (!ready && error != nullptr) *error = kSodiumInitFailed;
  return ready;
}

bool Fail(std::string* error, const char* message) {
  *error = message;
  return false;
}

unsigned char* Bytes(std::string& s) {
  return reinterpret_cast<unsigned char*>(s.data());
}
const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

bool GenerateBoxKeyPair(BoxKeyPair* out, std::string* error) {
  *out = BoxKeyPair();
  if (!Ready(error)) return false;
  BoxKeyPair pair;
  pair.public_key.resize(kBoxPublicKeyBytes);
  pair.secret_key.resize(kBoxSecretKeyBytes);
  if (crypto_box_keypair(Bytes(pair.public_key), Bytes(pair.secret_key)) != 0) {
    Wipe(&pair.secret_key);
    return Fail(error, kBoxKeyGenerationFailed);
  }
  *out = std::move(pair);
  return true;
}

bool GenerateSignKeyPair(SignKeyPair* out, std::string* error) {
  *out = SignKeyPair();
  if (!Ready(error)) return false;
  SignKeyPair pair;
  pair.public_key.resize(kSignPublicKeyBytes);
  pair.secret_key.resize(kSignSecretKeyBytes);
  if (crypto_sign_keypair(Bytes(pair.public_key), Bytes(pair.secret_key)) != 0) {
    Wipe(&pair.secret_key);
    return Fail(error, kSignKeyGenerationFailed);
  }
  *out = std::move(pair);
  return true;
}

bool BoxSeal(std::string_view plain, std::string_view peer_public, std::string_view own_secret,
             std::string* nonce, std::string* cipher, std::string* error) {
  nonce->clear();
  cipher->clear();
  if (!Ready(error)) return false;
  if (peer_public.size() != kBoxPublicKeyBytes || own_secret.size() != kBoxSecretKeyBytes)
    return Fail(error, kInvalidBoxKey);
  std::string n(kBoxNonceBytes, '\0');
  randombytes_buf(n.data(), n.size());
  std::string c(plain.size() + kBoxMacBytes, '\0');
  if (crypto_box_easy(Bytes(c), Bytes(plain), plain.size(), Bytes(n), Bytes(peer_public),
                      Bytes(own_secret)) != 0)
    return Fail(error, kBoxEncryptionFailed);
  *nonce = std::move(n);
  *cipher = std::move(c);
  return true;
}

bool BoxOpen(std::string_view nonce_and_cipher, std::string_view peer_public,
             std::string_view own_secret, std::string* plain, std::string* error) {
  Wipe(plain);
  if (!Ready(error)) return false;
  if (peer_public.size() != kBoxPublicKeyBytes || own_secret.size() != kBoxSecretKeyBytes ||
      nonce_and_cipher.size() < kBoxNonceBytes + kBoxMacBytes)
    return Fail(error, kInvalidBoxInput);
  const std::string_view cipher = nonce_and_cipher.substr(kBoxNonceBytes);
  std::string p(cipher.size() - kBoxMacBytes, '\0');
  if (crypto_box_open_easy(Bytes(p), Bytes(cipher), cipher.size(), Bytes(nonce_and_cipher),
                           Bytes(peer_public), Bytes(own_secret)) != 0) {
    Wipe(&p);
    return Fail(error, kBoxAuthenticationFailed);
  }
  *plain = std::move(p);
  return true;
}

bool SecretBoxSeal(std::string_view plain, std::string_view key, std::string* nonce_and_cipher,
                   std::string* error) {
  nonce_and_cipher->clear();
  if (!Ready(error)) return false;
  if (key.size() != kSecretBoxKeyBytes) return Fail(error, kInvalidSecretBoxInput);
  std::string out(kBoxNonceBytes + plain.size() + kBoxMacBytes, '\0');
  randombytes_buf(out.data(), kBoxNonceBytes);
  if (crypto_secretbox_easy(Bytes(out) + kBoxNonceBytes, Bytes(plain), plain.size(), Bytes(out),
                            Bytes(key)) != 0)
    return Fail(error, kSecretBoxEncryptionFailed);
  *nonce_and_cipher = std::move(out);
  return true;
}

bool SecretBoxOpen(std::string_view nonce_and_cipher, std::string_view key, std::string* plain,
                   std::string* error) {
  Wipe(plain);
  if (!Ready(error)) return false;
  if (key.size() != kSecretBoxKeyBytes || nonce_and_cipher.size() < kBoxNonceBytes + kBoxMacBytes)
    return Fail(error, kInvalidSecretBoxInput);
  const std::string_view cipher = nonce_and_cipher.substr(kBoxNonceBytes);
  std::string p(cipher.size() - kBoxMacBytes, '\0');
  if (crypto_secretbox_open_easy(Bytes(p), Bytes(cipher), cipher.size(), Bytes(nonce_and_cipher),
                                 Bytes(key)) != 0) {
    Wipe(&p);
    return Fail(error, kSecretBoxAuthenticationFailed);
  }
  *plain = std::move(p);
  return true;
}

bool SignMessage(std::string_view message, std::string_view secret_key, std::string* signed_message,
                 std::string* error) {
  signed_message->clear();
  if (!Ready(error)) return false;
  if (secret_key.size() != kSignSecretKeyBytes) return Fail(error, kInvalidSigningKey);
  std::string out(kSignatureBytes + message.size(), '\0');
  unsigned long long length = 0;
  if (crypto_sign(Bytes(out), &length, Bytes(message), message.size(), Bytes(secret_key)) != 0 ||
      length != out.size())
    return Fail(error, kSigningFailed);
  *signed_message = std::move(out);
  return true;
}

bool VerifySigned(std::string_view signed_message, std::string_view public_key,
                  std::string_view expected_message, std::string* error) {
  if (!Ready(error)) return false;
  if (public_key.size() != kSignPublicKeyBytes || signed_message.size() < kSignatureBytes)
    return Fail(error, kInvalidSignedMessage);
  const std::string_view message = signed_message.substr(kSignatureBytes);
  // The detached check verifies the signature over the message as carried; the carried message
  // must then be the expected one.
  const bool signature_ok = crypto_sign_verify_detached(Bytes(signed_message), Bytes(message),
                                                        message.size(), Bytes(public_key)) == 0;
  const bool same = message.size() == expected_message.size() &&
                    (message.empty() ||
                     sodium_memcmp(message.data(), expected_message.data(), message.size()) == 0);
  if (!signature_ok || !same) return Fail(error, kSignatureVerificationFailed);
  error->clear();
  return true;
}

std::string Sha256Digest(std::string_view bytes) {
  std::string digest(kSha256Bytes, '\0');
  crypto_hash_sha256(Bytes(digest), Bytes(bytes), bytes.size());
  return digest;
}

std::string RandomBytes(size_t count) {
  if (!Ready(nullptr)) return {};
  std::string out(count, '\0');
  randombytes_buf(out.data(), out.size());
  return out;
}

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || !Ready(nullptr)) return false;
  return a.empty() || sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

void Wipe(std::string* bytes) {
  if (bytes->empty()) return;
  sodium_memzero(bytes->data(), bytes->size());
  bytes->clear();
}

}  // namespace kavi::win
