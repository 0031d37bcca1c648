// SPDX-License-Identifier: Apache-2.0
#include "net/sha256.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "platform/sequential_file.h"

namespace kavi::win {
namespace {

constexpr size_t kDigestBytes = 32;

struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string Hex(const unsigned char* digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * kDigestBytes);
  for (size_t i = 0; i < kDigestBytes; ++i) {
    hex.push_back(kDigits[digest[i] >> 4]);
    hex.push_back(kDigits[digest[i] & 15]);
  }
  return hex;
}

bool Failed(std::string* hex, std::string* error, std::string message) {
  hex->clear();
  if (error != nullptr) *error = std::move(message);
  return false;
}

// A failing library call: its name (in the vocabulary of the hashing steps), " 失敗：" and the
// library's error number.
std::string CallFailed(const char* step) {
  return std::string(step) + " 失敗：" + std::to_string(ERR_get_error());
}

// One hash from start to finish; each step reports the first failure.
class Sha256 {
 public:
  bool Start(std::string* message) {
    const EVP_MD* algorithm = EVP_sha256();
    if (algorithm == nullptr) return Fail("BCryptOpenAlgorithmProvider", message);
    context_.reset(EVP_MD_CTX_new());
    if (!context_ || EVP_DigestInit_ex(context_.get(), algorithm, nullptr) != 1)
      return Fail("BCryptCreateHash", message);
    return true;
  }
  bool Add(const void* data, size_t size, std::string* message) {
    if (EVP_DigestUpdate(context_.get(), data, size) != 1) return Fail("BCryptHashData", message);
    return true;
  }
  bool Finish(std::string* hex, std::string* message) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest, &size) != 1 || size != kDigestBytes)
      return Fail("BCryptFinishHash", message);
    *hex = Hex(digest);
    return true;
  }

 private:
  static bool Fail(const char* step, std::string* message) {
    *message = CallFailed(step);
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, ContextDeleter> context_;
};

}  // namespace

bool Sha256Bytes(std::string_view bytes, std::string* hex, std::string* error) {
  if (bytes.size() > 0xFFFFFFFFu) return Failed(hex, error, kSha256TooLargeMessage);
  Sha256 hash;
  std::string message;
  if (!hash.Start(&message) || !hash.Add(bytes.data(), bytes.size(), &message) ||
      !hash.Finish(hex, &message))
    return Failed(hex, error, message);
  if (error != nullptr) error->clear();
  return true;
}

bool Sha256File(const std::filesystem::path& path, std::string* hex, std::string* error) {
  SequentialFile file;
  if (!file.Open(path)) return Failed(hex, error, kSha256OpenMessage);
  Sha256 hash;
  std::string message;
  if (!hash.Start(&message)) return Failed(hex, error, message);
  std::vector<unsigned char> chunk(kSha256ChunkBytes);
  for (;;) {
    const long got = file.Read(chunk.data(), chunk.size());
    if (got < 0) return Failed(hex, error, kSha256ReadMessage);
    if (got == 0) break;
    if (!hash.Add(chunk.data(), static_cast<size_t>(got), &message))
      return Failed(hex, error, message);
  }
  if (!hash.Finish(hex, &message)) return Failed(hex, error, message);
  if (error != nullptr) error->clear();
  return true;
}

}  // namespace kavi::win
