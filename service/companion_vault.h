// SPDX-License-Identifier: Apache-2.0
// kavi-companion's vault: everything the companion must keep secret or must not lose (its own
// key pairs, the Safe's keys and account key, the TOTP entries with their secrets, the paired
// apps), in one file encrypted under a key derived from the user's passphrase (Argon2id) with
// XSalsa20-Poly1305 (secretbox). Every save replaces the file atomically.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "companion/crypto.h"
#include "service/totp.h"

namespace kavi::service {

struct CompanionEntry {
  std::string id;
  std::string issuer;
  std::string account;
  TotpSecret secret;
  int64_t added = 0;  // unix seconds
};

struct PairedApp {
  std::string app_id;
  std::string name;
  std::string sign_public_key;
  std::string box_public_key;
  int64_t paired = 0;  // unix seconds
};

struct VaultContents {
  win::SignKeyPair service_sign;  // the companion service's keys, pinned by its clients
  win::BoxKeyPair service_box;
  std::string safe_id;
  std::string nickname;
  win::BoxKeyPair safe_box;  // the Safe's encryption keys
  std::string account_key;   // 32 bytes: the codes travel sealed under it
  std::vector<CompanionEntry> entries;
  std::vector<PairedApp> apps;
  uint64_t list_version = 1;
  uint64_t next_entry = 1;
};

// How hard the passphrase is to guess at: libsodium's interactive or moderate limits.
enum class KdfStrength { kInteractive, kModerate };

class CompanionVault {
 public:
  // Makes fresh keys for a new vault (not yet written).
  static bool Fresh(const std::string& nickname, VaultContents* contents, std::string* error);

  // Derives the key from the passphrase with a new salt and writes `contents` to `file`.
  bool Create(const std::filesystem::path& file, const std::string& passphrase,
              KdfStrength strength, VaultContents contents, std::string* error);
  // Reads and decrypts the vault; a wrong passphrase fails with "wrong passphrase".
  bool Open(const std::filesystem::path& file, const std::string& passphrase, std::string* error);
  // Writes the current contents under the same key with a fresh nonce.
  bool Save(std::string* error);

  VaultContents& contents() { return contents_; }
  const VaultContents& contents() const { return contents_; }

  ~CompanionVault();

 private:
  std::filesystem::path file_;
  std::string salt_;
  uint64_t ops_limit_ = 0;
  uint64_t mem_limit_ = 0;
  std::string key_;  // the derived key, wiped with the vault
  VaultContents contents_;
};

}  // namespace kavi::service
