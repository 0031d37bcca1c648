// SPDX-License-Identifier: Apache-2.0
#include "net/sha256.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/sequential_file.h"
#include "text/hex.h"

namespace kavi::win {
namespace {

constexpr size_t kDigestBytes = 32;

struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

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
    *hex = HexEncode(std::string_view(reinterpret_cast<const char*>(digest), kDigestBytes));
    return true;
  }

 private:
  static bool Fail(const char* step, std::string* message) {
    *message = CallFailed(step);
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, ContextDeleter> context_;
};

// Adds up to `limit` bytes of an open file; how many were read, or a negative number on a
// read error.
int64_t AddFromFile(SequentialFile& file, uint64_t limit, Sha256& hash, std::string* message) {
  std::vector<unsigned char> chunk(kSha256ChunkBytes);
  uint64_t total = 0;
  while (total < limit) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), limit - total));
    const long got = file.Read(chunk.data(), want);
    if (got < 0) {
      *message = kSha256ReadMessage;
      return -1;
    }
    if (got == 0) break;
    if (!hash.Add(chunk.data(), static_cast<size_t>(got), message)) return -1;
    total += static_cast<uint64_t>(got);
  }
  return static_cast<int64_t>(total);
}

}  // namespace

struct Sha256Hasher::State {
  Sha256 hash;
  bool ok = false;
  std::string failure;
};

Sha256Hasher::Sha256Hasher() : state_(std::make_unique<State>()) {
  std::string ignored;
  Reset(&ignored);
}

Sha256Hasher::~Sha256Hasher() = default;

bool Sha256Hasher::Reset(std::string* error) {
  state_->ok = state_->hash.Start(&state_->failure);
  if (!state_->ok && error != nullptr) *error = state_->failure;
  return state_->ok;
}

bool Sha256Hasher::Add(const void* data, size_t size, std::string* error) {
  if (state_->ok) state_->ok = state_->hash.Add(data, size, &state_->failure);
  if (!state_->ok && error != nullptr) *error = state_->failure;
  return state_->ok;
}

bool Sha256Hasher::AddFilePrefix(const std::filesystem::path& path, uint64_t bytes,
                                 std::string* error) {
  if (state_->ok) {
    SequentialFile file;
    if (!file.Open(path)) {
      state_->ok = false;
      state_->failure = kSha256OpenMessage;
    } else {
      const int64_t got = AddFromFile(file, bytes, state_->hash, &state_->failure);
      if (got != static_cast<int64_t>(bytes)) {
        state_->ok = false;
        if (got >= 0) state_->failure = kSha256ReadMessage;
      }
    }
  }
  if (!state_->ok && error != nullptr) *error = state_->failure;
  return state_->ok;
}

bool Sha256Hasher::Finish(std::string* hex, std::string* error) {
  if (state_->ok) state_->ok = state_->hash.Finish(hex, &state_->failure);
  if (!state_->ok) return Failed(hex, error, state_->failure);
  // A finished context takes no more input.
  state_->ok = false;
  state_->failure = kSha256ReadMessage;
  return true;
}

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
  if (AddFromFile(file, UINT64_MAX, hash, &message) < 0) return Failed(hex, error, message);
  if (!hash.Finish(hex, &message)) return Failed(hex, error, message);
  if (error != nullptr) error->clear();
  return true;
}

}  // namespace kavi::win
