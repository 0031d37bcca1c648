// SPDX-License-Identifier: Apache-2.0
#include "ovra/user_data_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <set>
#include <system_error>

#include "platform/directories.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"

namespace kavi::win {
namespace {

constexpr std::string_view kHeader = "kavi-user-data 1\n";

bool Fail(std::string* message, std::string text) {
  if (message) *message = std::move(text);
  return false;
}

// Reads "<label> <value>\n" at *at; the value is the rest of the line.
bool ReadLabelled(std::string_view bytes, size_t* at, std::string_view label,
                  std::string_view* value) {
  const size_t end = bytes.find('\n', *at);
  if (end == std::string_view::npos) return false;
  std::string_view line = bytes.substr(*at, end - *at);
  if (line.size() <= label.size() || line.substr(0, label.size()) != label ||
      line[label.size()] != ' ')
    return false;
  *value = line.substr(label.size() + 1);
  *at = end + 1;
  return true;
}

// Reads "<label> <n>\n<n bytes>\n" at *at.
bool ReadSection(std::string_view bytes, size_t* at, std::string_view label, std::string* out) {
  std::string_view count_text;
  if (!ReadLabelled(bytes, at, label, &count_text)) return false;
  // Counts are written in one way only: no sign, no leading zero.
  if (count_text.size() > 1 && count_text[0] == '0') return false;
  size_t count = 0;
  auto [end, error] =
      std::from_chars(count_text.data(), count_text.data() + count_text.size(), count);
  if (error != std::errc() || end != count_text.data() + count_text.size()) return false;
  if (count > bytes.size() - *at || bytes.size() - *at - count < 1 || bytes[*at + count] != '\n')
    return false;
  out->assign(bytes.substr(*at, count));
  *at += count + 1;
  return true;
}

void AppendSection(std::string* text, std::string_view label, std::string_view bytes) {
  text->append(label);
  text->append(" ");
  text->append(std::to_string(bytes.size()));
  text->append("\n");
  text->append(bytes);
  text->append("\n");
}

// The first two whitespace-separated fields of a line; false when it has fewer.
bool WordKey(std::string_view line, std::string* key) {
  auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  size_t a = 0;
  while (a < line.size() && is_space(line[a])) ++a;
  size_t a_end = a;
  while (a_end < line.size() && !is_space(line[a_end])) ++a_end;
  size_t b = a_end;
  while (b < line.size() && is_space(line[b])) ++b;
  size_t b_end = b;
  while (b_end < line.size() && !is_space(line[b_end])) ++b_end;
  if (a == a_end || b == b_end) return false;
  key->assign(line.substr(a, a_end - a));
  key->push_back('\t');
  key->append(line.substr(b, b_end - b));
  return true;
}

template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    visit(text.substr(start, end - start));
    start = end + 1;
  }
}

// Scheme ids become file names: only plain names are used.
bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0\n", 3)) == std::string_view::npos;
}

}  // namespace

std::string FormatSyncCopy(std::string_view scheme_id, const UserDataText& text) {
  std::string out(kHeader);
  out.append("scheme ");
  out.append(scheme_id);
  out.append("\n");
  AppendSection(&out, "words", text.words);
  AppendSection(&out, "history", text.history);
  return out;
}

bool ParseSyncCopy(std::string_view bytes, std::string_view scheme_id, UserDataText* out,
                   std::string* message) {
  if (bytes.substr(0, kHeader.size()) != kHeader) return Fail(message, "not a user data copy");
  size_t at = kHeader.size();
  std::string_view scheme;
  if (!ReadLabelled(bytes, &at, "scheme", &scheme)) return Fail(message, "no scheme line");
  if (scheme != scheme_id) return Fail(message, "a copy of another scheme");
  UserDataText text;
  if (!ReadSection(bytes, &at, "words", &text.words)) return Fail(message, "bad words section");
  if (!ReadSection(bytes, &at, "history", &text.history))
    return Fail(message, "bad history section");
  if (at != bytes.size()) return Fail(message, "trailing bytes");
  *out = std::move(text);
  if (message) message->clear();
  return true;
}

std::string MergeWordLines(std::string_view ours, std::string_view theirs) {
  std::set<std::string> known;
  std::string merged;
  std::string key;
  ForEachLine(ours, [&](std::string_view line) {
    if (!WordKey(line, &key)) return;
    known.insert(key);
    merged.append(line);
    merged.push_back('\n');
  });
  ForEachLine(theirs, [&](std::string_view line) {
    if (!WordKey(line, &key) || !known.insert(key).second) return;
    merged.append(line);
    merged.push_back('\n');
  });
  return merged;
}

SyncFolder::SyncFolder(const std::filesystem::path& user_data_dir, std::string installation_id)
    : root_(user_data_dir / kSyncFolderName), installation_id_(std::move(installation_id)) {}

bool SyncFolder::Write(std::string_view scheme_id, const UserDataText& text,
                       std::string* message) const {
  if (root_.empty() || !IsPlainName(scheme_id) || !IsPlainName(installation_id_))
    return Fail(message, "no sync folder for " + std::string(scheme_id));
  const std::filesystem::path folder = root_ / installation_id_;
  if (!CreateDirectories(folder, kPrivateDirectoryMode, message)) return false;
  const std::filesystem::path file =
      folder / (std::string(scheme_id) + std::string(kSyncCopySuffix));
  ReplaceFailure failure;
  if (!ReplaceFile(file, FormatSyncCopy(scheme_id, text), kPrivateFileMode, &failure))
    return Fail(message, "cannot write " + file.string() + ": " + std::strerror(failure.error));
  if (message) message->clear();
  return true;
}

std::vector<UserDataText> SyncFolder::ReadAll(std::string_view scheme_id,
                                              std::vector<std::string>* problems) const {
  std::vector<UserDataText> copies;
  if (root_.empty() || !IsPlainName(scheme_id)) return copies;
  std::vector<std::string> installations;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec))
    installations.push_back(it->path().filename().string());
  std::sort(installations.begin(), installations.end());
  auto own = std::find(installations.begin(), installations.end(), installation_id_);
  if (own != installations.end()) std::rotate(installations.begin(), own, own + 1);

  const std::string name = std::string(scheme_id) + std::string(kSyncCopySuffix);
  for (const std::string& installation : installations) {
    const std::filesystem::path file = root_ / installation / name;
    std::string bytes;
    int error = 0;
    switch (ReadRegularFile(file, kMaxSyncCopyBytes, &bytes, &error)) {
      case ReadFileResult::kRead:
        break;
      case ReadFileResult::kCannotOpen:
        if (error != ENOENT && error != ENOTDIR && problems)
          problems->push_back("cannot open " + file.string() + ": " + std::strerror(error));
        continue;
      case ReadFileResult::kUnreadable:
        if (problems)
          problems->push_back("cannot read " + file.string() + ": " + std::strerror(error));
        continue;
    }
    UserDataText text;
    std::string message;
    if (ParseSyncCopy(bytes, scheme_id, &text, &message)) {
      copies.push_back(std::move(text));
    } else if (problems) {
      problems->push_back(file.string() + ": " + message);
    }
  }
  return copies;
}

}  // namespace kavi::win
