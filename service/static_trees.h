// SPDX-License-Identifier: Apache-2.0
// Files served as they are from directories: the voice model manifest and models, the scheme
// pack manifest and packs, the update feed and installers. Each tree maps a URL prefix to a
// directory; a directory itself is answered with its "index.json".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::service {

struct StaticTree {
  std::string prefix;  // "/voice/models"; no trailing slash
  std::filesystem::path directory;
};

inline constexpr char kIndexFileName[] = "index.json";

// The file a request path names, when it lies inside one of the trees (the longest matching
// prefix wins). Refuses empty, "." and ".." segments, backslashes and control characters, so
// that no path leaves its tree.
bool ResolveStaticFile(const std::vector<StaticTree>& trees, std::string_view path,
                       std::filesystem::path* file);

// A Range header against a file of `size` bytes.
struct ByteRange {
  enum class Kind { kWhole, kPart, kUnsatisfiable };
  Kind kind = Kind::kWhole;
  uint64_t offset = 0;
  uint64_t length = 0;
};
// One "bytes=first-[last]" or "bytes=-suffix" range; anything else (several ranges, other
// units, malformed) is ignored and the whole file is served, as HTTP allows.
ByteRange ParseRangeHeader(std::string_view header, uint64_t size);

// "application/json" for .json, "application/octet-stream" otherwise.
std::string ContentTypeFor(const std::filesystem::path& file);

}  // namespace kavi::service
