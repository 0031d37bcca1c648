// SPDX-License-Identifier: Apache-2.0
#include "service/static_trees.h"

#include <charconv>
#include <system_error>

namespace kavi::service {
namespace {

bool SafeRelative(std::string_view rest) {
  if (rest.empty()) return true;
  if (rest.front() != '/') return false;
  rest.remove_prefix(1);
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    if (segment.empty() || segment == "." || segment == "..") return false;
    for (unsigned char c : segment) {
      if (c < 32 || c == 127 || c == '\\') return false;
    }
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
    if (rest.empty()) break;  // a trailing slash names the directory
  }
  return true;
}

bool ReadNumber(std::string_view text, uint64_t* out) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ResolveStaticFile(const std::vector<StaticTree>& trees, std::string_view path,
                       std::filesystem::path* file) {
  const StaticTree* best = nullptr;
  for (const StaticTree& tree : trees) {
    const bool matches = path.starts_with(tree.prefix) &&
                         (path.size() == tree.prefix.size() || path[tree.prefix.size()] == '/');
    if (matches && (best == nullptr || tree.prefix.size() > best->prefix.size())) best = &tree;
  }
  if (best == nullptr) return false;
  std::string_view rest = path.substr(best->prefix.size());
  if (!SafeRelative(rest)) return false;
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  std::filesystem::path candidate = best->directory / std::string(rest);
  std::error_code error;
  if (std::filesystem::is_directory(candidate, error)) candidate /= kIndexFileName;
  if (!std::filesystem::is_regular_file(candidate, error)) return false;
  *file = candidate;
  return true;
}

ByteRange ParseRangeHeader(std::string_view header, uint64_t size) {
  ByteRange whole;
  whole.length = size;
  constexpr std::string_view kUnit = "bytes=";
  if (!header.starts_with(kUnit) || header.find(',') != std::string_view::npos) return whole;
  header.remove_prefix(kUnit.size());
  const size_t dash = header.find('-');
  if (dash == std::string_view::npos) return whole;
  const std::string_view first_text = header.substr(0, dash);
  const std::string_view last_text = header.substr(dash + 1);
  uint64_t first = 0, last = 0;
  ByteRange range;
  range.kind = ByteRange::Kind::kPart;
  if (first_text.empty()) {
    // The last N bytes.
    if (!ReadNumber(last_text, &last)) return whole;
    if (last == 0 || size == 0) return {ByteRange::Kind::kUnsatisfiable, 0, 0};
    range.length = std::min(last, size);
    range.offset = size - range.length;
    return range;
  }
  if (!ReadNumber(first_text, &first)) return whole;
  if (!last_text.empty() && (!ReadNumber(last_text, &last) || last < first)) return whole;
  if (first >= size) return {ByteRange::Kind::kUnsatisfiable, 0, 0};
  const uint64_t end = last_text.empty() ? size - 1 : std::min(last, size - 1);
  range.offset = first;
  range.length = end - first + 1;
  return range;
}

std::string ContentTypeFor(const std::filesystem::path& file) {
  return file.extension() == ".json" ? "application/json" : "application/octet-stream";
}

}  // namespace kavi::service
