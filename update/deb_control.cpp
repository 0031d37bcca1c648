// SPDX-License-Identifier: Apache-2.0
#include "update/deb_control.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

#include "update/update_feed.h"

namespace kavi::win {
namespace {

struct ArchiveDeleter {
  void operator()(archive* a) const { archive_read_free(a); }
};
using Archive = std::unique_ptr<archive, ArchiveDeleter>;

constexpr size_t kReadBlockBytes = 65536;

std::string_view EntryName(archive_entry* entry) {
  const char* name = archive_entry_pathname(entry);
  std::string_view view = name == nullptr ? std::string_view() : name;
  while (view.starts_with("./")) view.remove_prefix(2);
  return view;
}

// Reads the current entry's data, at most `limit` bytes; false when it is longer or damaged.
bool ReadEntry(archive* a, uint64_t limit, std::string* out) {
  out->clear();
  char block[kReadBlockBytes];
  for (;;) {
    const la_ssize_t got = archive_read_data(a, block, sizeof block);
    if (got < 0) return false;
    if (got == 0) return true;
    if (out->size() + static_cast<uint64_t>(got) > limit) return false;
    out->append(block, static_cast<size_t>(got));
  }
}

DebControlResult Failed(archive* a, std::string* detail, DebControlResult result) {
  if (detail != nullptr) {
    const char* text = a == nullptr ? nullptr : archive_error_string(a);
    *detail = text == nullptr ? "damaged archive" : text;
  }
  return result;
}

// The control file inside the control.tar member's bytes.
DebControlResult ReadControlTar(const std::string& tar, DebControl* control, std::string* detail) {
  Archive a(archive_read_new());
  archive_read_support_filter_all(a.get());
  archive_read_support_format_tar(a.get());
  if (archive_read_open_memory(a.get(), tar.data(), tar.size()) != ARCHIVE_OK)
    return Failed(a.get(), detail, DebControlResult::kUnreadable);
  archive_entry* entry = nullptr;
  for (;;) {
    const int status = archive_read_next_header(a.get(), &entry);
    if (status == ARCHIVE_EOF) break;
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
      return Failed(a.get(), detail, DebControlResult::kUnreadable);
    if (EntryName(entry) != "control" || archive_entry_filetype(entry) != AE_IFREG) continue;
    std::string text;
    if (!ReadEntry(a.get(), kMaxControlFileBytes, &text))
      return Failed(a.get(), detail, DebControlResult::kUnreadable);
    ParseControlFields(text, control);
    return DebControlResult::kRead;
  }
  if (detail != nullptr) *detail = "no control file";
  return DebControlResult::kNoControl;
}

DebControlResult ReadOpened(archive* a, DebControl* control, std::string* detail) {
  archive_entry* entry = nullptr;
  for (;;) {
    const int status = archive_read_next_header(a, &entry);
    if (status == ARCHIVE_EOF) break;
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
      return Failed(a, detail, DebControlResult::kUnreadable);
    if (!EntryName(entry).starts_with("control.tar")) continue;
    std::string tar;
    if (!ReadEntry(a, kMaxControlArchiveBytes, &tar))
      return Failed(a, detail, DebControlResult::kUnreadable);
    return ReadControlTar(tar, control, detail);
  }
  if (detail != nullptr) *detail = "no control.tar member";
  return DebControlResult::kNoControl;
}

Archive OpenAr() {
  Archive a(archive_read_new());
  archive_read_support_format_ar(a.get());
  return a;
}

bool ParseNumber(std::string_view text, uint32_t* value) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t parsed = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    parsed = parsed * 10 + static_cast<uint32_t>(c - '0');
  }
  if (parsed > kMaxVersionComponent) return false;
  *value = parsed;
  return true;
}

}  // namespace

DebControlResult ReadDebControl(const std::filesystem::path& deb, DebControl* control,
                                std::string* detail) {
  Archive a = OpenAr();
  if (archive_read_open_filename(a.get(), deb.c_str(), kReadBlockBytes) != ARCHIVE_OK)
    return Failed(a.get(), detail, DebControlResult::kUnreadable);
  return ReadOpened(a.get(), control, detail);
}

DebControlResult ReadDebControlFromMemory(std::string_view deb, DebControl* control,
                                          std::string* detail) {
  Archive a = OpenAr();
  if (archive_read_open_memory(a.get(), deb.data(), deb.size()) != ARCHIVE_OK)
    return Failed(a.get(), detail, DebControlResult::kUnreadable);
  return ReadOpened(a.get(), control, detail);
}

void ParseControlFields(std::string_view text, DebControl* control) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ' ' || line.front() == '\t') continue;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
      value.remove_suffix(1);
    if (name == "Package") control->package = value;
    if (name == "Version") control->version = value;
    if (name == "Architecture") control->architecture = value;
  }
}

bool ParseDebianVersion(std::string_view text, std::vector<uint32_t>* version, uint32_t* build) {
  const size_t dash = text.find('-');
  const std::string_view upstream = text.substr(0, dash);
  uint32_t revision = 0;
  if (dash != std::string_view::npos && !ParseNumber(text.substr(dash + 1), &revision))
    return false;
  std::vector<uint32_t> parts;
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    const size_t dot = upstream.find('.', at);
    const bool last = i == 2;
    if (last != (dot == std::string_view::npos)) return false;
    uint32_t part = 0;
    if (!ParseNumber(upstream.substr(at, last ? std::string_view::npos : dot - at), &part))
      return false;
    parts.push_back(part);
    at = dot + 1;
  }
  *version = std::move(parts);
  *build = revision;
  return true;
}

}  // namespace kavi::win
