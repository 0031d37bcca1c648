#include "config/json.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <unordered_set>

#include "text/utf8.h"

namespace kavi::win {

namespace {

// Byte classes of the scanner.
constexpr uint8_t kWhitespace = 1;
constexpr uint8_t kDigit = 2;
constexpr uint8_t kStringPlain = 4;  // copied as is inside a string: not '"', '\\' or a control

struct ByteClasses {
  uint8_t table[256] = {};
  constexpr ByteClasses() {
    for (int c = 0x20; c < 256; ++c) table[c] = kStringPlain;
    table[static_cast<uint8_t>('"')] = 0;
    table[static_cast<uint8_t>('\\')] = 0;
    for (int c = '0'; c <= '9'; ++c) table[c] |= kDigit;
    for (char c : {' ', '\t', '\n', '\r'}) table[static_cast<uint8_t>(c)] |= kWhitespace;
  }
};
constexpr ByteClasses kClasses;

inline bool Is(uint8_t byte_class, char c) {
  return (kClasses.table[static_cast<uint8_t>(c)] & byte_class) != 0;
}

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// True when one of the eight bytes is '"', '\\' or below 0x20: those end a plain run.
inline bool HasSpecialByte(uint64_t word) {
  auto has_zero = [](uint64_t x) { return (x - kOnes) & ~x & kHighBits; };
  const uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighBits;
  return (below_space | has_zero(word ^ (kOnes * '"')) | has_zero(word ^ (kOnes * '\\'))) != 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hexadecimal digits; `pos` ends past them, or on the first that is not one.
server::UnicodeEscape ReadHex4(std::string_view text, size_t* pos, uint32_t* unit) {
  if (text.size() - *pos < 4) return server::UnicodeEscape::kIncomplete;
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i) {
    int digit = HexValue(text[*pos]);
    if (digit < 0) return server::UnicodeEscape::kInvalidDigit;
    result = (result << 4) | static_cast<uint32_t>(digit);
    ++*pos;
  }
  *unit = result;
  return server::UnicodeEscape::kDecoded;
}

// Keys of one object mostly differ in length or first byte; look there before memcmp.
inline bool SameKey(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         (a.empty() || (a[0] == b[0] && std::memcmp(a.data(), b.data(), a.size()) == 0));
}

bool KeyLess(const JsonObject::value_type& member, std::string_view key) {
  return std::string_view(member.first) < key;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// JsonObject

JsonObject::JsonObject(std::initializer_list<value_type> members) {
  for (const value_type& member : members) Insert(member.first, member.second);
}

JsonObject::const_iterator JsonObject::LowerBound(std::string_view key) const {
  return std::lower_bound(members_.begin(), members_.end(), key, KeyLess);
}

const JsonValue* JsonObject::Find(std::string_view key) const {
  auto it = LowerBound(key);
  if (it == members_.end() || it->first != key) return nullptr;
  return &it->second;
}

JsonValue* JsonObject::Find(std::string_view key) {
  return const_cast<JsonValue*>(std::as_const(*this).Find(key));
}

void JsonObject::Set(std::string key, JsonValue value) {
  auto it = members_.begin() + (LowerBound(key) - std::as_const(members_).begin());
  if (it != members_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    members_.emplace(it, std::move(key), std::move(value));
  }
}

bool JsonObject::Insert(std::string key, JsonValue value) {
  auto it = members_.begin() + (LowerBound(key) - std::as_const(members_).begin());
  if (it != members_.end() && it->first == key) return false;
  members_.emplace(it, std::move(key), std::move(value));
  return true;
}

JsonValue& JsonObject::operator[](std::string_view key) {
  auto it = members_.begin() + (LowerBound(key) - std::as_const(members_).begin());
  if (it == members_.end() || it->first != key) {
    it = members_.emplace(it, std::string(key), JsonValue());
  }
  return it->second;
}

bool JsonObject::Erase(std::string_view key) {
  auto it = members_.begin() + (LowerBound(key) - std::as_const(members_).begin());
  if (it == members_.end() || it->first != key) return false;
  members_.erase(it);
  return true;
}

bool JsonObject::operator==(const JsonObject& other) const {
  return members_ == other.members_;
}

// ---------------------------------------------------------------------------------------------
// JsonValue

JsonValue::JsonValue(JsonValue&& other) noexcept
    : kind(other.kind),
      boolean(other.boolean),
      number(other.number),
      string(std::move(other.string)),
      array(std::move(other.array)),
      object(std::move(other.object)) {
  other.kind = JsonKind::kNull;
  other.boolean = false;
  other.number = 0;
  other.string.clear();
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
  if (this == &other) return *this;
  kind = other.kind;
  boolean = other.boolean;
  number = other.number;
  string = std::move(other.string);
  array = std::move(other.array);
  object = std::move(other.object);
  other.kind = JsonKind::kNull;
  other.boolean = false;
  other.number = 0;
  other.string.clear();
  other.array.clear();
  other.object = JsonObject();
  return *this;
}

bool JsonValue::operator==(const JsonValue& other) const {
  if (kind != other.kind) return false;
  switch (kind) {
    case JsonKind::kNull:
      return true;
    case JsonKind::kBoolean:
      return boolean == other.boolean;
    case JsonKind::kNumber:
      return number == other.number;
    case JsonKind::kString:
      return string == other.string;
    case JsonKind::kArray:
      return array == other.array;
    case JsonKind::kObject:
      return object == other.object;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Parser

class JsonParser {
 public:
  JsonParser(const char* data, size_t size) : levels_(ThreadScratch()), data_(data), size_(size) {}
  ~JsonParser() { TrimScratch(); }
  JsonParser(const JsonParser&) = delete;
  JsonParser& operator=(const JsonParser&) = delete;

  bool Parse(JsonValue* out, std::string* error) {
    JsonValue value;
    SkipWhitespace();
    bool ok = ParseValue(&value, 0);
    if (ok) {
      SkipWhitespace();
      if (pos_ != size_) ok = Fail("trailing content");
    }
    if (!ok) {
      if (error != nullptr) {
        *error = message_;
        *error += " at byte ";
        *error += std::to_string(pos_);
      }
      return false;
    }
    *out = std::move(value);
    return true;
  }

 private:
  // Objects that grow past this many members find duplicates through a hash set.
  static constexpr size_t kLinearKeyCheckLimit = 16;

  bool Fail(const char* message) {
    message_ = message;
    return false;
  }

  void SkipWhitespace() {
    while (pos_ < size_ && Is(kWhitespace, data_[pos_])) ++pos_;
  }

  bool ParseValue(JsonValue* value, int depth) {
    if (depth > server::kJsonMaxDepth) return Fail("nesting limit exceeded");
    if (pos_ >= size_) return Fail("unexpected end");
    switch (data_[pos_]) {
      case '"':
        value->kind = JsonKind::kString;
        return ParseString(&value->string);
      case '[':
        return ParseArray(value, depth);
      case '{':
        return ParseObject(value, depth);
      case 't':
        value->kind = JsonKind::kBoolean;
        value->boolean = true;
        return ParseLiteral("true", 4);
      case 'f':
        value->kind = JsonKind::kBoolean;
        return ParseLiteral("false", 5);
      case 'n':
        return ParseLiteral("null", 4);
      default:
        return ParseNumber(value);
    }
  }

  bool ParseLiteral(const char* word, size_t length) {
    if (size_ - pos_ < length || std::memcmp(data_ + pos_, word, length) != 0) {
      return Fail("invalid literal");
    }
    pos_ += length;
    return true;
  }

  bool ParseNumber(JsonValue* value) {
    const size_t start = pos_;
    bool negative = false;
    if (data_[pos_] == '-') {
      negative = true;
      ++pos_;
      if (pos_ == size_) return Fail("invalid number");
    }
    // The digits of the integer and the fraction as one integer, while it stays exact.
    uint64_t mantissa = 0;
    int digits = 0;
    auto take_digits = [&] {
      const size_t first = pos_;
      for (; pos_ < size_ && Is(kDigit, data_[pos_]); ++pos_) {
        mantissa = mantissa * 10 + static_cast<uint64_t>(data_[pos_] - '0');
        ++digits;
      }
      return pos_ - first;
    };
    if (data_[pos_] == '0') {
      ++pos_;
      ++digits;
      if (pos_ < size_ && Is(kDigit, data_[pos_])) return Fail("leading zero in number");
    } else if (take_digits() == 0) {
      return Fail("invalid number");
    }
    int exponent = 0;
    if (pos_ < size_ && data_[pos_] == '.') {
      ++pos_;
      const size_t fraction_digits = take_digits();
      if (fraction_digits == 0) return Fail("invalid fraction");
      exponent -= static_cast<int>(std::min<size_t>(fraction_digits, 1000));
    }
    bool exponent_small = true;
    if (pos_ < size_ && (data_[pos_] == 'e' || data_[pos_] == 'E')) {
      ++pos_;
      bool exponent_negative = false;
      if (pos_ < size_ && (data_[pos_] == '+' || data_[pos_] == '-')) {
        exponent_negative = data_[pos_] == '-';
        ++pos_;
      }
      const size_t exponent_start = pos_;
      int written = 0;
      for (; pos_ < size_ && Is(kDigit, data_[pos_]); ++pos_) {
        if (written < 10000) written = written * 10 + (data_[pos_] - '0');
      }
      if (pos_ == exponent_start) return Fail("invalid exponent");
      exponent_small = written < 10000;
      exponent += exponent_negative ? -written : written;
    }
    // A mantissa below 2^53 and a power of ten up to 10^22 are both exact doubles, so one
    // multiplication or division rounds correctly; everything else goes to the full conversion.
    static constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    double number;
    if (digits <= 19 && mantissa <= (uint64_t{1} << 53) && exponent_small && exponent >= -22 &&
        exponent <= 22) {
      number = static_cast<double>(mantissa);
      number = exponent < 0 ? number / kExactPowers[-exponent] : number * kExactPowers[exponent];
      if (negative) number = -number;
    } else {
      const char* end = data_ + pos_;
      auto [ptr, ec] = std::from_chars(data_ + start, end, number);
      if (ec != std::errc() || ptr != end || !std::isfinite(number)) {
        return Fail("number out of range");
      }
    }
    value->kind = JsonKind::kNumber;
    value->number = number;
    return true;
  }

  // The cursor stands on the 'u' of an escape; on success it is past the whole escape.
  bool ParseUnicodeEscape(std::string* out) {
    ++pos_;
    using server::UnicodeEscape;
    switch (server::ReadUnicodeEscape(std::string_view(data_, size_), &pos_, out)) {
      case UnicodeEscape::kDecoded:
        return true;
      case UnicodeEscape::kIncomplete:
        return Fail("incomplete unicode escape");
      case UnicodeEscape::kInvalidDigit:
        return Fail("invalid unicode escape");
      case UnicodeEscape::kLoneLowSurrogate:
        return Fail("unexpected low surrogate");
      case UnicodeEscape::kMissingLowSurrogate:
        return Fail("missing low surrogate");
      case UnicodeEscape::kInvalidLowSurrogate:
        return Fail("invalid low surrogate");
    }
    return false;
  }

  bool ParseString(std::string* out) {
    if (pos_ >= size_ || data_[pos_] != '"') return Fail("expected string");
    ++pos_;
    bool high_bytes = false;
    for (;;) {
      const size_t run_start = pos_;
      uint64_t high = 0;
      // Eight plain bytes at a time; the byte-wise loop finds the exact stop.
      while (size_ - pos_ >= 8) {
        uint64_t word;
        std::memcpy(&word, data_ + pos_, 8);
        if (HasSpecialByte(word)) break;
        high |= word;
        pos_ += 8;
      }
      high_bytes |= (high & kHighBits) != 0;
      while (pos_ < size_ && Is(kStringPlain, data_[pos_])) {
        high_bytes |= static_cast<uint8_t>(data_[pos_]) >= 0x80;
        ++pos_;
      }
      out->append(data_ + run_start, pos_ - run_start);
      if (pos_ >= size_) return Fail("unterminated string");
      const char c = data_[pos_];
      if (c == '"') {
        ++pos_;
        break;
      }
      if (c != '\\') return Fail("control character in string");
      ++pos_;
      if (pos_ >= size_) return Fail("incomplete escape");
      switch (data_[pos_]) {
        case '"':
        case '\\':
        case '/':
          out->push_back(data_[pos_]);
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u':
          if (!ParseUnicodeEscape(out)) return false;
          high_bytes |= static_cast<uint8_t>(out->back()) >= 0x80;
          continue;
        default:
          return Fail("invalid escape");
      }
      ++pos_;
    }
    // Escapes always produce whole characters, but a raw byte next to one may not.
    if (high_bytes && !IsValidUtf8(out->data(), out->size())) {
      return Fail("invalid UTF-8 string");
    }
    return true;
  }

  bool ParseArray(JsonValue* value, int depth) {
    value->kind = JsonKind::kArray;
    ++pos_;
    SkipWhitespace();
    if (pos_ < size_ && data_[pos_] == ']') {
      ++pos_;
      return true;
    }
    // Elements gather in the scratch of this depth, then move once into an exact-size vector.
    std::vector<JsonValue>& elements = Scratch(depth).elements;
    elements.clear();
    for (;;) {
      elements.emplace_back();
      if (!ParseValue(&elements.back(), depth + 1)) return false;
      SkipWhitespace();
      if (pos_ >= size_) return Fail("expected array separator");
      const char c = data_[pos_++];
      if (c == ']') break;
      if (c != ',') {
        --pos_;
        return Fail("expected array separator");
      }
      SkipWhitespace();
    }
    value->array.reserve(elements.size());
    for (JsonValue& element : elements) value->array.push_back(std::move(element));
    elements.clear();
    return true;
  }

  using Member = JsonObject::value_type;

  // Hash and equality over member indices, so the set survives the scratch vector growing.
  struct KeyHash {
    const std::vector<Member>* members;
    size_t operator()(uint32_t i) const {
      return std::hash<std::string_view>()((*members)[i].first);
    }
  };
  struct KeyEqual {
    const std::vector<Member>* members;
    bool operator()(uint32_t a, uint32_t b) const {
      return (*members)[a].first == (*members)[b].first;
    }
  };

  struct SortKey {
    uint64_t prefix;
    uint32_t index;
  };

  // The first eight bytes of a key as a big-endian number, zero-padded: its order is the byte
  // order of those bytes.
  static uint64_t KeyPrefix(const std::string& key) {
    uint64_t prefix = 0;
    std::memcpy(&prefix, key.data(), std::min<size_t>(key.size(), 8));
    if constexpr (std::endian::native == std::endian::little) prefix = __builtin_bswap64(prefix);
    return prefix;
  }

  // Per-depth buffers, reused by every container at that depth: one is open per depth at a
  // time, and a deque keeps outer levels in place while deeper ones are added.
  struct Level {
    std::vector<JsonValue> elements;
    std::vector<Member> members;
    std::vector<SortKey> order;
    std::unordered_set<uint32_t, KeyHash, KeyEqual> keys{0, KeyHash{&members}, KeyEqual{&members}};
  };

  Level& Scratch(int depth) {
    while (levels_.size() <= static_cast<size_t>(depth)) levels_.emplace_back();
    return levels_[static_cast<size_t>(depth)];
  }

  bool ParseObject(JsonValue* value, int depth) {
    value->kind = JsonKind::kObject;
    ++pos_;
    SkipWhitespace();
    if (pos_ < size_ && data_[pos_] == '}') {
      ++pos_;
      return true;
    }
    Level& level = Scratch(depth);
    std::vector<Member>& members = level.members;
    members.clear();
    level.keys.clear();
    for (;;) {
      members.emplace_back();
      Member& member = members.back();
      if (!ParseString(&member.first)) return false;
      SkipWhitespace();
      if (pos_ >= size_ || data_[pos_] != ':') return Fail("expected object colon");
      ++pos_;
      SkipWhitespace();
      if (!ParseValue(&member.second, depth + 1)) return false;
      if (!NoteKey(&level)) return Fail("duplicate object key");
      SkipWhitespace();
      if (pos_ >= size_) return Fail("expected object separator");
      const char c = data_[pos_++];
      if (c == '}') break;
      if (c != ',') {
        --pos_;
        return Fail("expected object separator");
      }
      SkipWhitespace();
    }
    JsonVector<Member>& sorted = value->object.members_;
    sorted.reserve(members.size());
    // Most keys differ in their first eight bytes, so most comparisons are one integer compare.
    auto key_less = [&members](const SortKey& a, const SortKey& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      return members[a.index].first < members[b.index].first;
    };
    std::vector<SortKey>& order = level.order;
    order.resize(members.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = {KeyPrefix(members[i].first), i};
    if (!std::is_sorted(order.begin(), order.end(), key_less)) {
      std::sort(order.begin(), order.end(), key_less);
    }
    for (const SortKey& key : order) sorted.push_back(std::move(members[key.index]));
    members.clear();
    return true;
  }

  // False when the newest member's key repeats an earlier one.
  bool NoteKey(Level* level) {
    const std::vector<Member>& members = level->members;
    const size_t last = members.size() - 1;
    if (members.size() <= kLinearKeyCheckLimit) {
      const std::string& key = members[last].first;
      for (size_t i = 0; i < last; ++i) {
        if (SameKey(members[i].first, key)) return false;
      }
      if (members.size() == kLinearKeyCheckLimit) {
        for (size_t i = 0; i <= last; ++i) level->keys.insert(static_cast<uint32_t>(i));
      }
      return true;
    }
    return level->keys.insert(static_cast<uint32_t>(last)).second;
  }

  // The scratch outlives each parse so that small documents allocate only their own values;
  // a huge document's buffers are given back afterwards.
  static std::deque<Level>& ThreadScratch() {
    thread_local std::deque<Level> levels;
    return levels;
  }

  void TrimScratch() {
    static constexpr size_t kKeptCapacity = 1024;
    for (Level& level : levels_) {
      level.elements.clear();
      level.members.clear();
      level.keys.clear();
      if (level.elements.capacity() > kKeptCapacity) std::vector<JsonValue>().swap(level.elements);
      if (level.members.capacity() > kKeptCapacity) std::vector<Member>().swap(level.members);
      if (level.order.capacity() > kKeptCapacity) std::vector<SortKey>().swap(level.order);
      if (level.keys.bucket_count() > kKeptCapacity) level.keys.rehash(0);
    }
  }

  std::deque<Level>& levels_;
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
  const char* message_ = "";
};

namespace server {

JsonValue MakeJsonNull() {
  return JsonValue();
}

JsonValue MakeJsonBool(bool value) {
  JsonValue result;
  result.kind = JsonKind::kBoolean;
  result.boolean = value;
  return result;
}

JsonValue MakeJsonNumber(double value) {
  JsonValue result;
  if (!std::isfinite(value)) return result;
  result.kind = JsonKind::kNumber;
  result.number = value;
  return result;
}

JsonValue MakeJsonString(std::string value) {
  JsonValue result;
  result.kind = JsonKind::kString;
  result.string = std::move(value);
  return result;
}

JsonValue MakeJsonArray(std::vector<JsonValue> elements) {
  JsonValue result;
  result.kind = JsonKind::kArray;
  result.array = std::move(elements);
  return result;
}

JsonValue MakeJsonObject(JsonObject members) {
  JsonValue result;
  result.kind = JsonKind::kObject;
  result.object = std::move(members);
  return result;
}

bool ParseJson(const char* data, size_t size, JsonValue* out, std::string* error) {
  if (error != nullptr) error->clear();
  if (out == nullptr) {
    if (error != nullptr) *error = "null output at byte 0";
    return false;
  }
  if (data == nullptr) size = 0;
  return JsonParser(data, size).Parse(out, error);
}

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

// The escape of each byte, or 0 when the byte is written unchanged.
struct EscapeTable {
  char table[256] = {};
  constexpr EscapeTable() {
    for (int c = 0; c < 0x20; ++c) table[c] = 'u';
    table[static_cast<uint8_t>('"')] = '"';
    table[static_cast<uint8_t>('\\')] = '\\';
    table[8] = 'b';
    table[9] = 't';
    table[10] = 'n';
    table[12] = 'f';
    table[13] = 'r';
  }
};
constexpr EscapeTable kEscapes;

using uint128 = unsigned __int128;

constexpr uint128 kSeventeenDigitsLow = uint128{10000000000000000ULL};    // 10^16
constexpr uint128 kSeventeenDigitsHigh = uint128{100000000000000000ULL};  // 10^17

struct Powers {
  uint128 of_ten[23] = {};
  constexpr Powers() {
    of_ten[0] = 1;
    for (int i = 1; i < 23; ++i) of_ten[i] = of_ten[i - 1] * 10;
  }
};
constexpr Powers kPowers;

// %.17g for the magnitudes that service replies and state files are made of, in exact integer
// arithmetic: the 17 digits are round-half-even(|v| * 10^(16 - x)) where 10^x <= |v| < 10^(x+1),
// which is what the C library prints. Returns the end of the text, or null for a magnitude
// outside [1e-5, 1e17), which the caller formats the slow way.
char* FormatSeventeenDigits(double value, char* out) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-5 && magnitude < 1e17)) return nullptr;
  uint64_t bits;
  std::memcpy(&bits, &magnitude, sizeof(bits));
  const int binary_exponent = static_cast<int>(bits >> 52) - 1075;
  const uint128 mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  // The magnitude is m * 2^e with -70 < e < 5, so m * 10^k (k <= 22) fits in 128 bits.
  int x = std::clamp(static_cast<int>(std::floor(std::log10(magnitude))), -5, 16);
  uint128 digits = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int k = 16 - x;
    uint128 scaled = mantissa * kPowers.of_ten[k];
    uint128 remainder = 0;
    uint128 half = 0;
    if (binary_exponent >= 0) {
      scaled <<= binary_exponent;
    } else {
      const int shift = -binary_exponent;
      remainder = scaled & ((uint128{1} << shift) - 1);
      half = uint128{1} << (shift - 1);
      scaled >>= shift;
    }
    // log10 can be off by one next to a power of ten.
    if (scaled >= kSeventeenDigitsHigh && x < 16) {
      ++x;
      continue;
    }
    if (scaled < kSeventeenDigitsLow && x > -5) {
      --x;
      continue;
    }
    if (remainder > half || (remainder == half && half != 0 && (scaled & 1) != 0)) ++scaled;
    if (scaled == kSeventeenDigitsHigh) {
      scaled = kSeventeenDigitsLow;
      ++x;
    }
    digits = scaled;
    break;
  }
  if (digits < kSeventeenDigitsLow || digits >= kSeventeenDigitsHigh) return nullptr;
  char text[17];
  uint64_t rest = static_cast<uint64_t>(digits);
  for (int i = 16; i >= 0; --i) {
    text[i] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
  int significant = 17;
  while (significant > 1 && text[significant - 1] == '0') --significant;
  char* cursor = out;
  if (value < 0) *cursor++ = '-';
  if (x < -4) {
    *cursor++ = text[0];
    if (significant > 1) {
      *cursor++ = '.';
      std::memcpy(cursor, text + 1, static_cast<size_t>(significant - 1));
      cursor += significant - 1;
    }
    *cursor++ = 'e';
    *cursor++ = '-';
    *cursor++ = static_cast<char>('0' + (-x) / 10);
    *cursor++ = static_cast<char>('0' + (-x) % 10);
  } else if (x < 0) {
    *cursor++ = '0';
    *cursor++ = '.';
    for (int i = 0; i < -x - 1; ++i) *cursor++ = '0';
    std::memcpy(cursor, text, static_cast<size_t>(significant));
    cursor += significant;
  } else {
    const int whole = x + 1;
    std::memcpy(cursor, text, static_cast<size_t>(whole));
    cursor += whole;
    if (significant > whole) {
      *cursor++ = '.';
      std::memcpy(cursor, text + whole, static_cast<size_t>(significant - whole));
      cursor += significant - whole;
    }
  }
  return cursor;
}

// Appends to a string through a raw cursor: the string grows geometrically and is cut to the
// written length at the end, so each piece costs a bounds check and a copy.
class JsonWriter {
 public:
  explicit JsonWriter(std::string* out) : out_(out) {
    const size_t length = out->size();
    out->resize(std::max<size_t>(length + 256, out->capacity()));
    cursor_ = out->data() + length;
    limit_ = out->data() + out->size();
  }
  ~JsonWriter() { out_->resize(static_cast<size_t>(cursor_ - out_->data())); }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void Value(const JsonValue& value) {
    switch (value.kind) {
      case JsonKind::kNull:
        Raw("null", 4);
        return;
      case JsonKind::kBoolean:
        if (value.boolean) {
          Raw("true", 4);
        } else {
          Raw("false", 5);
        }
        return;
      case JsonKind::kNumber:
        Number(value.number);
        return;
      case JsonKind::kString:
        String(value.string);
        return;
      case JsonKind::kArray: {
        Byte('[');
        bool first = true;
        for (const JsonValue& element : value.array) {
          if (!first) Byte(',');
          first = false;
          Value(element);
        }
        Byte(']');
        return;
      }
      case JsonKind::kObject: {
        Byte('{');
        bool first = true;
        for (const auto& [key, member] : value.object) {
          if (!first) Byte(',');
          first = false;
          String(key);
          Byte(':');
          Value(member);
        }
        Byte('}');
        return;
      }
    }
  }

  void String(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    // Every byte may become a six-byte \u00XX escape; that room also lets plain bytes go out
    // eight at a time.
    Reserve(text.size() * 6 + 2);
    char* cursor = cursor_;
    *cursor++ = '"';
    const char* in = text.data();
    const char* const end = in + text.size();
    while (in < end) {
      if (end - in >= 8) {
        uint64_t word;
        std::memcpy(&word, in, 8);
        if (!HasSpecialByte(word)) {
          std::memcpy(cursor, &word, 8);
          cursor += 8;
          in += 8;
          continue;
        }
      }
      const uint8_t byte = static_cast<uint8_t>(*in++);
      const char escape = kEscapes.table[byte];
      if (escape == 0) {
        *cursor++ = static_cast<char>(byte);
        continue;
      }
      *cursor++ = '\\';
      *cursor++ = escape;
      if (escape == 'u') {
        *cursor++ = '0';
        *cursor++ = '0';
        *cursor++ = kHex[byte >> 4];
        *cursor++ = kHex[byte & 0xF];
      }
    }
    *cursor++ = '"';
    cursor_ = cursor;
  }

 private:
  void Reserve(size_t extra) {
    if (static_cast<size_t>(limit_ - cursor_) < extra) Grow(extra);
  }

  [[gnu::noinline]] void Grow(size_t extra) {
    const size_t length = static_cast<size_t>(cursor_ - out_->data());
    out_->resize(std::max(out_->size() * 2, length + extra));
    cursor_ = out_->data() + length;
    limit_ = out_->data() + out_->size();
  }

  void Byte(char c) {
    Reserve(1);
    *cursor_++ = c;
  }

  void Raw(const char* text, size_t size) {
    Reserve(size);
    std::memcpy(cursor_, text, size);
    cursor_ += size;
  }

  void Number(double number) {
    Reserve(32);
    // Only a number field set by hand can hold these; JSON has no spelling for them.
    if (!std::isfinite(number)) return Raw("null", 4);
    // Integers below 2^53 print the same under %.17g as in plain decimal, and much faster.
    if (number == std::trunc(number) && std::fabs(number) < 9007199254740992.0 &&
        !(number == 0 && std::signbit(number))) {
      cursor_ = std::to_chars(cursor_, cursor_ + 32, static_cast<int64_t>(number)).ptr;
    } else if (char* end = FormatSeventeenDigits(number, cursor_); end != nullptr) {
      cursor_ = end;
    } else {
      cursor_ = std::to_chars(cursor_, cursor_ + 32, number, std::chars_format::general, 17).ptr;
    }
  }

  std::string* out_;
  char* cursor_;
  char* limit_;
};

}  // namespace

UnicodeEscape ReadUnicodeEscape(std::string_view text, size_t* pos, std::string* out) {
  uint32_t unit;
  UnicodeEscape result = ReadHex4(text, pos, &unit);
  if (result != UnicodeEscape::kDecoded) return result;
  if (unit >= 0xDC00 && unit <= 0xDFFF) return UnicodeEscape::kLoneLowSurrogate;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (text.size() - *pos < 2 || text[*pos] != '\\' || text[*pos + 1] != 'u') {
      return UnicodeEscape::kMissingLowSurrogate;
    }
    *pos += 2;
    uint32_t low;
    result = ReadHex4(text, pos, &low);
    if (result != UnicodeEscape::kDecoded) return result;
    if (low < 0xDC00 || low > 0xDFFF) return UnicodeEscape::kInvalidLowSurrogate;
    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }
  AppendUtf8(unit, out);
  return UnicodeEscape::kDecoded;
}

void AppendJsonString(std::string_view text, std::string* out) {
  JsonWriter(out).String(text);
}

void AppendJson(const JsonValue& value, std::string* out) {
  JsonWriter(out).Value(value);
}

std::string SerializeJson(const JsonValue& value) {
  std::string out;
  AppendJson(value, &out);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Lookups

const JsonValue* FindJsonMember(const JsonValue& value, std::string_view key) {
  if (value.kind != JsonKind::kObject) return nullptr;
  return value.object.Find(key);
}

bool GetJsonInt64(const JsonValue& value, std::string_view key, int64_t* out) {
  const JsonValue* member = FindJsonMember(value, key);
  if (member == nullptr || member->kind != JsonKind::kNumber) return false;
  const double number = member->number;
  if (number != std::trunc(number)) return false;
  if (!(number >= -9223372036854775808.0 && number < 9223372036854775808.0)) return false;
  if (out != nullptr) *out = static_cast<int64_t>(number);
  return true;
}

bool GetJsonString(const JsonValue& value, std::string_view key, std::string* out) {
  const JsonValue* member = FindJsonMember(value, key);
  if (member == nullptr || member->kind != JsonKind::kString) return false;
  if (out != nullptr) *out = member->string;
  return true;
}

}  // namespace server
}  // namespace kavi::win
