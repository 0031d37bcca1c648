// SPDX-License-Identifier: Apache-2.0
#include "companion/dpapi_store.h"

#include <sodium.h>

#include <cerrno>
#include <cstdint>

#include "companion/crypto.h"
#include "platform/directories.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "platform/folders.h"

namespace kavi::win {
namespace {

constexpr size_t kMaxItemNameLength = 64;
constexpr uint64_t kMaxItemBytes = 0xFFFFFFFFu;     // 4 GiB and more are refused
constexpr uintmax_t kMaxBlobFileBytes = 64u << 20;  // what Load reads at most
constexpr char kEntropyPrefix[] = "Kavi.VaultBlobs.v2:";
constexpr size_t kMasterKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
// A blob: this tag, the nonce, then the cipher text with its tag.
constexpr std::string_view kBlobTag = "KPB1";
constexpr size_t kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr size_t kMacBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;

bool Fail(std::string* error, const char* message) {
  *error = message;
  return false;
}

// The entropy of an item, as the UTF-16LE bytes of the prefix and the name (names are ASCII).
std::string Entropy(std::string_view name) {
  std::string out;
  for (char c : std::string(kEntropyPrefix) + std::string(name)) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

bool IsValidItemName(std::string_view name) {
  if (name.empty() || name.size() > kMaxItemNameLength || name == "." || name == "..") return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

DpapiStore::DpapiStore(std::filesystem::path directory, std::filesystem::path master_key_file)
    : directory_(std::move(directory)), master_key_file_(std::move(master_key_file)) {}

DpapiStore DpapiStore::ForCurrentUser() {
  const std::filesystem::path roaming = RoamingAppDataFolder();
  if (roaming.empty()) return DpapiStore(".", std::filesystem::path(".") / kMasterKeyFileName);
  const std::filesystem::path root = roaming / "Kavi";
  return DpapiStore(root / "gk", root / "protect" / kMasterKeyFileName);
}

std::filesystem::path DpapiStore::ItemFile(std::string_view name) const {
  return directory_ / (std::string(name) + kDpapiItemSuffix);
}

std::string DpapiStore::MasterKey(bool create) const {
  std::string key;
  if (ReadRegularFile(master_key_file_, kMasterKeyBytes, &key) == ReadFileResult::kRead &&
      key.size() == kMasterKeyBytes)
    return key;
  Wipe(&key);
  if (!create) return {};
  std::string message;
  if (!CreateDirectories(master_key_file_.parent_path(), kPrivateDirectoryMode, &message))
    return {};
  std::string fresh = RandomBytes(kMasterKeyBytes);
  ScopedWipe wipe_fresh(&fresh);
  // Two processes may both find no key: one key wins and both use it.
  if (CreateFileOnce(master_key_file_, fresh, kPrivateFileMode, nullptr) ==
      CreateOnceResult::kFailed)
    return {};
  if (ReadRegularFile(master_key_file_, kMasterKeyBytes, &key) != ReadFileResult::kRead ||
      key.size() != kMasterKeyBytes) {
    Wipe(&key);
    return {};
  }
  return key;
}

bool DpapiStore::Save(std::string_view name, std::string_view bytes, std::string* error) const {
  if (!IsValidItemName(name) || bytes.empty() || bytes.size() >= kMaxItemBytes)
    return Fail(error, kDpapiNameOrDataInvalid);
  std::string message;
  if (!CreateDirectories(directory_, kPrivateDirectoryMode, &message))
    return Fail(error, kDpapiDirectoryFailed);
  std::string key = MasterKey(/*create=*/true);
  ScopedWipe wipe_key(&key);
  if (key.empty()) return Fail(error, kDpapiEncryptFailed);

  const std::string entropy = Entropy(name);
  std::string blob(kBlobTag);
  blob += RandomBytes(kNonceBytes);
  const size_t header = blob.size();
  blob.resize(header + bytes.size() + kMacBytes);
  unsigned long long cipher_length = 0;
  if (crypto_aead_xchacha20poly1305_ietf_encrypt(
          reinterpret_cast<unsigned char*>(blob.data()) + header, &cipher_length, Bytes(bytes),
          bytes.size(), Bytes(entropy), entropy.size(), nullptr, Bytes(blob) + kBlobTag.size(),
          Bytes(key)) != 0)
    return Fail(error, kDpapiEncryptFailed);
  if (!ReplaceFile(ItemFile(name), blob, kPrivateFileMode, nullptr))
    return Fail(error, kDpapiWriteFailed);
  error->clear();
  return true;
}

bool DpapiStore::Load(std::string_view name, std::string* bytes, std::string* error) const {
  Wipe(bytes);
  if (!IsValidItemName(name)) return Fail(error, kDpapiNameInvalid);
  std::string blob;
  if (ReadRegularFile(ItemFile(name), kMaxBlobFileBytes, &blob) != ReadFileResult::kRead)
    return Fail(error, kDpapiMissing);
  std::string key = MasterKey(/*create=*/false);
  ScopedWipe wipe_key(&key);
  const size_t header = kBlobTag.size() + kNonceBytes;
  if (key.empty() || blob.size() < header + kMacBytes ||
      blob.compare(0, kBlobTag.size(), kBlobTag) != 0)
    return Fail(error, kDpapiDecryptFailed);
  const std::string entropy = Entropy(name);
  std::string plain(blob.size() - header - kMacBytes, '\0');
  ScopedWipe wipe_plain(&plain);
  unsigned long long plain_length = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(
          reinterpret_cast<unsigned char*>(plain.data()), &plain_length, nullptr,
          Bytes(blob) + header, blob.size() - header, Bytes(entropy), entropy.size(),
          Bytes(blob) + kBlobTag.size(), Bytes(key)) != 0)
    return Fail(error, kDpapiDecryptFailed);
  if (plain.empty()) return Fail(error, kDpapiPlainEmpty);
  *bytes = plain;
  error->clear();
  return true;
}

bool DpapiStore::Delete(std::string_view name, std::string* error) const {
  std::error_code failure;
  if (!IsValidItemName(name) || !std::filesystem::remove(ItemFile(name), failure))
    return Fail(error, kDpapiDeleteFailed);
  error->clear();
  return true;
}

}  // namespace kavi::win
