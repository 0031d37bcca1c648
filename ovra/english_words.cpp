// SPDX-License-Identifier: Apache-2.0
#include "ovra/english_words.h"

#include <algorithm>

#include "platform/file_read.h"

namespace kavi::win {
namespace {

bool HasVowel(std::string_view word) {
  return word.find_first_of("aeiouy") != std::string_view::npos;
}

}  // namespace

bool EnglishWords::Load(const std::filesystem::path& path, std::string* message) {
  std::string bytes;
  if (ReadRegularFile(path, kMaxFileBytes, &bytes) != ReadFileResult::kRead) {
    *message = "cannot read the English word list " + path.string();
    return false;
  }
  std::string text;
  text.reserve(bytes.size());
  std::vector<std::pair<size_t, size_t>> spans;  // offsets: text_ moves below
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + start, end - start);
    start = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    const bool letters = !line.empty() && std::all_of(line.begin(), line.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
    if (!letters || line.size() < kMinWordLetters) continue;
    spans.emplace_back(text.size(), line.size());
    for (char c : line) text.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  text_ = std::move(text);
  words_.clear();
  words_.reserve(spans.size());
  longest_ = 0;
  for (auto [offset, size] : spans) {
    words_.emplace_back(text_.data() + offset, size);
    longest_ = std::max(longest_, size);
  }
  std::sort(words_.begin(), words_.end());
  words_.erase(std::unique(words_.begin(), words_.end()), words_.end());
  message->clear();
  return true;
}

bool EnglishWords::Contains(std::string_view word) const {
  return std::binary_search(words_.begin(), words_.end(), word);
}

bool EnglishWords::IsWordRun(std::string_view letters) const {
  if (letters.size() < kMinWordLetters || words_.empty()) return false;
  // ends[i]: the first i letters are whole words.
  std::vector<bool> ends(letters.size() + 1, false);
  ends[0] = true;
  for (size_t from = 0; from < letters.size(); ++from) {
    if (!ends[from]) continue;
    const size_t reach = std::min(letters.size(), from + longest_);
    for (size_t to = from + kMinWordLetters; to <= reach; ++to) {
      const std::string_view word = letters.substr(from, to - from);
      if (!ends[to] && HasVowel(word) && Contains(word)) ends[to] = true;
    }
  }
  return ends[letters.size()];
}

}  // namespace kavi::win
