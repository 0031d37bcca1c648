// SPDX-License-Identifier: Apache-2.0
// The scheme packs kavi-service publishes, from a directory with one folder per pack:
//
//   <dir>/zrm/pack.json         {"displayName": "自然碼", "files": ["zrm.main.dict", ...]}
//   <dir>/zrm/zrm.main.dict     the pack's files, served under /packs/scheme/zrm/
//
// The manifest (/packs/scheme) lists every pack with each file's URL, size and SHA-256, read
// from the files themselves, so that a pack is published by copying its folder in. "files" in
// pack.json gives the order in which clients commit them (else: by name); a pack folder without
// pack.json is published under its folder name.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace kavi::service {

inline constexpr char kSchemePacksPath[] = "/packs/scheme";
inline constexpr char kPackDescriptionName[] = "pack.json";

class SchemePackCatalog {
 public:
  explicit SchemePackCatalog(std::filesystem::path directory);

  // The manifest with URLs under `base_url` ("https://host:port"); false with a message when a
  // pack's description or a file cannot be read.
  bool Manifest(std::string_view base_url, std::string* json, std::string* error);

 private:
  struct Digest {
    uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    std::string sha256;
  };
  // The SHA-256 of a file, computed again only when its size or time changed.
  bool Sha256Of(const std::filesystem::path& file, uintmax_t* size, std::string* sha256,
                std::string* error);

  const std::filesystem::path directory_;
  std::mutex mutex_;
  std::map<std::filesystem::path, Digest> digests_;
};

// The base URL of a request's own origin, from its Host header: "https://" + host; empty when
// the header is missing or holds anything but a host name or address and a port.
std::string OriginFromHost(std::string_view host);

}  // namespace kavi::service
