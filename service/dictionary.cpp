// SPDX-License-Identifier: Apache-2.0
#include "service/dictionary.h"

#include <zlib.h>

#include <algorithm>

#include "platform/file_read.h"

namespace kavi::service {
namespace {

constexpr uintmax_t kMaxDictionaryBytes = 64 * 1024 * 1024;
constexpr size_t kMaxGlossesShown = 4;
constexpr size_t kMaxLinesShown = 12;
constexpr size_t kMaxEnglishHits = 8;

// Length of the UTF-8 sequence that starts with this byte (1 for a stray byte).
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

bool IsCjkLead(unsigned char lead) {
  return lead >= 0xE3;  // U+3000 and above: CJK punctuation, kana, ideographs
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::string_view(" \t\r\n").find(text.front()) != std::string_view::npos)
    text.remove_prefix(1);
  while (!text.empty() && std::string_view(" \t\r\n").find(text.back()) != std::string_view::npos)
    text.remove_suffix(1);
  return text;
}

// A gloss as an English lookup key: "to eat" is found as "eat"; explanations in brackets and
// long descriptions are not keys.
std::string GlossKey(std::string_view gloss) {
  std::string key = Lower(Trim(gloss));
  if (key.starts_with("to ")) key.erase(0, 3);
  if (key.empty() || key.size() > 24 || key.find_first_of("()[]|:") != std::string::npos) return {};
  return key;
}

const char* ToneVowel(char vowel, int tone, bool umlaut) {
  static const char* const kTable[6][4] = {{"ā", "á", "ǎ", "à"}, {"ē", "é", "ě", "è"},
                                           {"ī", "í", "ǐ", "ì"}, {"ō", "ó", "ǒ", "ò"},
                                           {"ū", "ú", "ǔ", "ù"}, {"ǖ", "ǘ", "ǚ", "ǜ"}};
  int row;
  switch (vowel) {
    case 'a':
      row = 0;
      break;
    case 'e':
      row = 1;
      break;
    case 'i':
      row = 2;
      break;
    case 'o':
      row = 3;
      break;
    default:
      row = umlaut ? 5 : 4;
      break;
  }
  return kTable[row][tone - 1];
}

std::string Syllable(std::string_view numbered) {
  std::string letters(numbered);
  int tone = 0;
  if (!letters.empty() && letters.back() >= '1' && letters.back() <= '5') {
    tone = letters.back() - '0';
    letters.pop_back();
  }
  // "u:" and "v" are the ü of CC-CEDICT and of keyboards.
  std::string plain;
  std::vector<bool> umlaut;
  for (size_t i = 0; i < letters.size(); ++i) {
    const char c = letters[i];
    if ((c == 'u' || c == 'U') && i + 1 < letters.size() && letters[i + 1] == ':') {
      plain.push_back('u');
      umlaut.push_back(true);
      ++i;
    } else if (c == 'v') {
      plain.push_back('u');
      umlaut.push_back(true);
    } else {
      plain.push_back(c);
      umlaut.push_back(false);
    }
  }
  const std::string lower = Lower(plain);
  // The mark goes on a or e, else on the o of "ou", else on the last vowel.
  size_t mark = std::string::npos;
  if (const size_t a = lower.find_first_of("ae"); a != std::string::npos) {
    mark = a;
  } else if (const size_t ou = lower.find("ou"); ou != std::string::npos) {
    mark = ou;
  } else {
    mark = lower.find_last_of("iouv");
  }
  std::string out;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (i == mark && tone >= 1 && tone <= 4) {
      out += ToneVowel(lower[i], tone, umlaut[i]);
    } else if (umlaut[i]) {
      out += "ü";
    } else {
      out.push_back(plain[i]);
    }
  }
  return out;
}

// Inflates a gzip member into `out`, refusing output past `limit` bytes.
bool Gunzip(std::string_view compressed, size_t limit, std::string* out) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  out->clear();
  int status = Z_OK;
  char buffer[1 << 16];
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) break;
    out->append(buffer, sizeof buffer - stream.avail_out);
    if (out->size() > limit) status = Z_MEM_ERROR;
    if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) status = Z_DATA_ERROR;
  }
  inflateEnd(&stream);
  return status == Z_STREAM_END;
}

}  // namespace

std::string PinyinWithToneMarks(std::string_view numbered) {
  std::string out;
  while (!numbered.empty()) {
    const size_t space = numbered.find(' ');
    if (!out.empty()) out += ' ';
    out += Syllable(numbered.substr(0, space));
    if (space == std::string_view::npos) break;
    numbered.remove_prefix(space + 1);
  }
  return out;
}

bool Dictionary::Load(const std::filesystem::path& path, std::string* error) {
  std::string bytes;
  if (win::ReadRegularFile(path, kMaxDictionaryBytes, &bytes) != win::ReadFileResult::kRead) {
    *error = "cannot read the dictionary " + path.string();
    return false;
  }
  if (path.extension() != ".gz") return LoadText(bytes, error);
  std::string text;
  if (!Gunzip(bytes, kMaxDictionaryBytes, &text)) {
    *error = "the dictionary " + path.string() + " is not a whole gzip file";
    return false;
  }
  return LoadText(text, error);
}

bool Dictionary::LoadText(std::string_view text, std::string* error) {
  entries_.clear();
  by_headword_.clear();
  by_gloss_.clear();
  longest_headword_ = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.front() != '#') AddLine(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  if (entries_.empty()) {
    *error = "the dictionary holds no entry";
    return false;
  }
  return true;
}

bool Dictionary::AddLine(std::string_view line) {
  const size_t first_space = line.find(' ');
  if (first_space == std::string_view::npos) return false;
  const size_t second_space = line.find(' ', first_space + 1);
  const size_t open = line.find('[');
  const size_t close = line.find(']');
  const size_t slash = line.find('/');
  if (second_space == std::string_view::npos || open != second_space + 1 ||
      close == std::string_view::npos || close < open || slash == std::string_view::npos ||
      slash < close)
    return false;
  Entry entry;
  entry.traditional = std::string(line.substr(0, first_space));
  entry.simplified = std::string(line.substr(first_space + 1, second_space - first_space - 1));
  if (entry.traditional.empty() || entry.simplified.empty()) return false;
  entry.pinyin = PinyinWithToneMarks(line.substr(open + 1, close - open - 1));
  std::string_view glosses = line.substr(slash + 1);
  while (!glosses.empty()) {
    const size_t next = glosses.find('/');
    const std::string_view gloss = Trim(glosses.substr(0, next));
    if (!gloss.empty()) entry.glosses.emplace_back(gloss);
    if (next == std::string_view::npos) break;
    glosses.remove_prefix(next + 1);
  }
  if (entry.glosses.empty()) return false;
  const auto index = static_cast<uint32_t>(entries_.size());
  for (const std::string* headword : {&entry.traditional, &entry.simplified}) {
    std::vector<uint32_t>& list = by_headword_[*headword];
    if (list.empty() || list.back() != index) list.push_back(index);
    size_t length = 0;
    for (size_t i = 0; i < headword->size(); i += SequenceLength(headword->at(i))) ++length;
    longest_headword_ = std::max(longest_headword_, length);
  }
  for (const std::string& gloss : entry.glosses) {
    // "hello; hi" is two senses in one gloss.
    std::string_view senses = gloss;
    while (!senses.empty()) {
      const size_t semicolon = senses.find(';');
      const std::string key = GlossKey(senses.substr(0, semicolon));
      if (!key.empty()) {
        std::vector<uint32_t>& list = by_gloss_[key];
        if (list.empty() || list.back() != index) list.push_back(index);
      }
      if (semicolon == std::string_view::npos) break;
      senses.remove_prefix(semicolon + 1);
    }
  }
  entries_.push_back(std::move(entry));
  return true;
}

std::string Dictionary::Format(const Entry& entry) const {
  std::string line = entry.traditional;
  if (entry.simplified != entry.traditional) line += " (" + entry.simplified + ")";
  line += " [" + entry.pinyin + "] ";
  size_t shown = 0;
  for (const std::string& gloss : entry.glosses) {
    if (gloss.starts_with("CL:")) continue;  // measure words are no translation
    if (shown++ != 0) line += "; ";
    line += gloss;
    if (shown == kMaxGlossesShown) break;
  }
  return line;
}

bool Dictionary::Lookup(std::string_view text, std::string* answer) const {
  text = Trim(text);
  answer->clear();
  if (text.empty()) return false;
  const bool chinese = std::any_of(text.begin(), text.end(),
                                   [](char c) { return IsCjkLead(static_cast<unsigned char>(c)); });
  return chinese ? LookupChinese(text, answer) : LookupEnglish(text, answer);
}

bool Dictionary::LookupChinese(std::string_view text, std::string* answer) const {
  std::vector<uint32_t> shown;
  size_t lines = 0;
  size_t position = 0;
  while (position < text.size() && lines < kMaxLinesShown) {
    // The longest dictionary word that starts here.
    size_t best_end = 0;
    const std::vector<uint32_t>* best = nullptr;
    size_t end = position;
    for (size_t length = 0; length < longest_headword_ && end < text.size(); ++length) {
      end = std::min(text.size(), end + SequenceLength(static_cast<unsigned char>(text[end])));
      auto found = by_headword_.find(std::string(text.substr(position, end - position)));
      if (found != by_headword_.end()) {
        best = &found->second;
        best_end = end;
      }
    }
    if (best == nullptr) {
      position += SequenceLength(static_cast<unsigned char>(text[position]));
      continue;
    }
    position = best_end;
    const uint32_t index = best->front();
    if (std::find(shown.begin(), shown.end(), index) != shown.end()) continue;
    shown.push_back(index);
    if (!answer->empty()) *answer += "\n";
    *answer += Format(entries_[index]);
    ++lines;
  }
  return !answer->empty();
}

bool Dictionary::LookupEnglish(std::string_view text, std::string* answer) const {
  auto found = by_gloss_.find(GlossKey(text));
  if (found == by_gloss_.end()) return false;
  for (size_t i = 0; i < found->second.size() && i < kMaxEnglishHits; ++i) {
    if (!answer->empty()) *answer += "\n";
    *answer += Format(entries_[found->second[i]]);
  }
  return true;
}

}  // namespace kavi::service
