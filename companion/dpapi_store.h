// SPDX-License-Identifier: Apache-2.0
// The protected item store of the companion client: small named secrets (keys, identifiers) each
// in a file of its own, encrypted for this user. A per-user master key (32 random bytes in a
// file only the user can read) encrypts each item with XChaCha20-Poly1305, the item's name bound
// in as associated data, so a blob copied under another name or read with another key does not
// open. Items are replaced atomically. The store has no lock: its callers serialise access.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kDpapiNameInvalid[] = "DPAPI 鍵名無效";
inline constexpr char kDpapiNameOrDataInvalid[] = "DPAPI 鍵名或資料無效";
inline constexpr char kDpapiDirectoryFailed[] = "無法建立 DPAPI 儲存目錄";
inline constexpr char kDpapiEncryptFailed[] = "DPAPI 加密失敗";
inline constexpr char kDpapiWriteFailed[] = "DPAPI 密文原子寫入失敗";
inline constexpr char kDpapiMissing[] = "DPAPI 密文不存在或已損壞";
inline constexpr char kDpapiDecryptFailed[] = "DPAPI 解密失敗";
inline constexpr char kDpapiPlainEmpty[] = "DPAPI 明文為空";
inline constexpr char kDpapiDeleteFailed[] = "DPAPI 密文刪除失敗";

inline constexpr char kDpapiItemSuffix[] = ".bin";
inline constexpr char kMasterKeyFileName[] = "master.key";

class DpapiStore {
 public:
  // Items live in `directory`; `master_key_file` is created on the first save.
  DpapiStore(std::filesystem::path directory, std::filesystem::path master_key_file);

  // This user's store: "Kavi/gk" in the roaming folder, the master key in "Kavi/protect"
  // beside it; the current directory when there is no roaming folder.
  static DpapiStore ForCurrentUser();

  // Each returns false with a message for the user; `error` is cleared on success.
  bool Load(std::string_view name, std::string* bytes, std::string* error) const;
  bool Save(std::string_view name, std::string_view bytes, std::string* error) const;
  bool Delete(std::string_view name, std::string* error) const;

  const std::filesystem::path& directory() const { return directory_; }

 private:
  std::filesystem::path ItemFile(std::string_view name) const;
  // The master key; with `create`, made when missing. Empty when it cannot be had.
  std::string MasterKey(bool create) const;

  std::filesystem::path directory_;
  std::filesystem::path master_key_file_;
};

// 1 to 64 characters from A-Z, a-z, 0-9, ".", "_" and "-", and not "." or "..".
bool IsValidItemName(std::string_view name);

}  // namespace kavi::win
