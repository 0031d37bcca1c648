// SPDX-License-Identifier: Apache-2.0
// The scheme pack manifest the service publishes: which packs exist and, for each, the files
// to download with their sizes and SHA-256 digests.
//
//   {"_res": "ok", "packs": [{"id": "zrm", "displayName": "自然碼",
//     "files": [{"name": "zrm.main.dict", "url": "https://...", "sha256": "...",
//                "bytes": 2259789}, ...]}, ...]}
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

inline constexpr size_t kMaxPackIdBytes = 80;
inline constexpr size_t kMaxPacks = 128;
inline constexpr size_t kMaxPackFiles = 256;
inline constexpr size_t kMinPackFileUrlBytes = 9;
inline constexpr size_t kMaxPackFileUrlBytes = 4096;
inline constexpr uint64_t kMaxPackFileBytes = 0x20000000;  // 512 MiB

// The validation errors, in the order they are checked.
inline constexpr char kManifestMissingOutput[] = "missing output";
inline constexpr char kManifestInvalidRoot[] = "invalid manifest root";
inline constexpr char kManifestNotOk[] = "manifest response is not ok";
inline constexpr char kManifestInvalidPackList[] = "invalid pack list";
inline constexpr char kManifestInvalidPackId[] = "invalid or duplicate pack id";
inline constexpr char kManifestInvalidPackFiles[] = "invalid pack files";
inline constexpr char kManifestInvalidPackFile[] = "invalid or duplicate pack file";

struct PackFile {
  std::string name;  // a safe file name (text/safe_file_name.h) that begins with "<pack id>."
  std::string url;   // https
  std::string sha256;  // 64 lower-case hexadecimal digits
  uint64_t bytes = 0;

  bool operator==(const PackFile&) const = default;
};

struct PackRecord {
  std::string id;
  std::string display_name;  // empty when the manifest has none
  std::vector<PackFile> files;

  bool operator==(const PackRecord&) const = default;
};

// 1 to 80 bytes, each a-z, 0-9 or '_'.
bool IsValidPackId(std::string_view id);

// Parses and checks a manifest. `packs` is replaced only when the whole manifest is valid;
// otherwise false with one of the errors above.
bool ParsePackManifest(std::string_view text, std::vector<PackRecord>* packs, std::string* error);

}  // namespace kavi::win
