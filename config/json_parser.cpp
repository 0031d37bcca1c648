// SPDX-License-Identifier: Apache-2.0
// The reader: recursive descent over the bytes with one cursor, the depth bounded by the nesting
// limit. Elements and members of the open containers gather on per-thread stacks and move once
// into an exact-size container when it closes; an object's keys are sorted and checked for
// duplicates then, in one pass, instead of on every insertion.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "config/json.h"
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

// Eight ASCII digits in a little-endian word, first digit in the low byte.
inline bool IsEightDigits(uint64_t word) {
  return ((word & 0xF0F0F0F0F0F0F0F0ULL) |
          (((word + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) == 0x3333333333333333ULL;
}
inline uint64_t EightDigitsValue(uint64_t word) {
  word = (word & 0x0F0F0F0F0F0F0F0FULL) * 2561 >> 8;
  word = (word & 0x00FF00FF00FF00FFULL) * 6553601 >> 16;
  return (word & 0x0000FFFF0000FFFFULL) * 42949672960001ULL >> 32;
}

// Powers of ten that doubles hold exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

#if defined(__x86_64__)
// The x87 extended format holds every integer below 2^64 and 10^k for k <= 27 exactly.
constexpr int kExtendedExactPowers = 27;
struct ExtendedPowers {
  long double of_ten[kExtendedExactPowers + 1] = {};
  constexpr ExtendedPowers() {
    of_ten[0] = 1;
    for (int i = 1; i <= kExtendedExactPowers; ++i) of_ten[i] = of_ten[i - 1] * 10;
  }
};
constexpr ExtendedPowers kExtendedPowers;
#endif

// mantissa * 10^exponent rounded once to the nearest double, when that can be done exactly
// without the full conversion. `mantissa` is below 10^19.
inline bool FastDecimalToDouble(uint64_t mantissa, int exponent, double* out) {
  // A mantissa up to 2^53 and 10^k up to 10^22 are both exact doubles, so one multiplication
  // or division rounds correctly.
  if (mantissa <= (uint64_t{1} << 53) && exponent >= -22 && exponent <= 22) {
    const double value = static_cast<double>(mantissa);
    *out = exponent < 0 ? value / kExactPowers[-exponent] : value * kExactPowers[exponent];
    return true;
  }
#if defined(__x86_64__)
  // Longer mantissas (coordinates with 17 digits): one rounding to the 64-bit extended format,
  // then a second to 53 bits. The second is exact unless the first landed on a point halfway
  // between two doubles (the 11 bits below a double's last bit are then 100 0000 0000): such
  // numbers go to the full conversion.
  if (exponent >= -kExtendedExactPowers && exponent <= kExtendedExactPowers) {
    static_assert(std::numeric_limits<long double>::digits == 64);
    long double value = static_cast<long double>(mantissa);
    value = exponent < 0 ? value / kExtendedPowers.of_ten[-exponent]
                         : value * kExtendedPowers.of_ten[exponent];
    uint64_t significand;
    std::memcpy(&significand, &value, sizeof(significand));
    if ((significand & 0x7FF) == 0x400) return false;
    *out = static_cast<double>(value);
    return true;
  }
#endif
  return false;
}

// A member of an object that is still open.
struct PendingMember {
  const char* key;  // in the input; null while the decoded key sits in the scratch at key_at
  size_t key_at;
  size_t key_size;
  size_t value_end;  // the offset just past the value; 0 until the value is complete
  JsonValue value;
};

struct SortKey {
  uint64_t prefix;  // the key's first eight bytes, big-endian, zero-padded
  uint32_t index;
};

inline uint64_t KeyPrefix(std::string_view key) {
  uint64_t prefix = 0;
  std::memcpy(&prefix, key.data(), std::min<size_t>(key.size(), 8));
  if constexpr (std::endian::native == std::endian::little) prefix = __builtin_bswap64(prefix);
  return prefix;
}

// Buffers that outlive each parse, so that a small document allocates only its own values.
struct ParseScratch {
  std::vector<JsonValue> elements;     // of the open arrays, innermost last
  std::vector<PendingMember> members;  // of the open objects, innermost last
  std::vector<SortKey> order;          // of the object being closed
  std::string keys;                    // keys that held escapes, decoded
  std::string text;                    // the string value being decoded
};

ParseScratch& ThreadScratch() {
  thread_local ParseScratch scratch;
  return scratch;
}

}  // namespace

class JsonParser {
 public:
  JsonParser(const char* data, size_t size)
      : scratch_(ThreadScratch()), begin_(data), end_(data + size), cur_(data) {}
  ~JsonParser() { ResetScratch(); }
  JsonParser(const JsonParser&) = delete;
  JsonParser& operator=(const JsonParser&) = delete;

  bool Parse(JsonValue* out, std::string* error) {
    JsonValue value;
    SkipWhitespace();
    bool ok = ParseValue(&value, 0);
    if (ok) {
      SkipWhitespace();
      if (cur_ != end_) ok = Fail("trailing content");
    }
    if (!ok) {
      if (error != nullptr) {
        *error = message_;
        *error += " at byte ";
        *error += std::to_string(cur_ - begin_);
      }
      return false;
    }
    *out = std::move(value);
    return true;
  }

 private:
  bool Fail(const char* message) {
    message_ = message;
    return false;
  }

  void SkipWhitespace() {
    // Most gaps are empty or one byte; runs of indentation go sixteen bytes at a time.
    if (cur_ == end_ || !Is(kWhitespace, *cur_)) return;
    ++cur_;
    if (cur_ == end_ || !Is(kWhitespace, *cur_)) return;
#if defined(__SSE2__)
    while (end_ - cur_ >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur_));
      const __m128i space = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')),
                                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')));
      const __m128i other = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')),
                                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
      const unsigned rest =
          ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(space, other))) & 0xFFFF;
      if (rest != 0) {
        cur_ += std::countr_zero(rest);
        return;
      }
      cur_ += 16;
    }
#endif
    while (cur_ < end_ && Is(kWhitespace, *cur_)) ++cur_;
  }

  bool ParseValue(JsonValue* value, int depth) {
    if (depth > server::kJsonMaxDepth) return Fail("nesting limit exceeded");
    if (cur_ == end_) return Fail("unexpected end");
    switch (*cur_) {
      case '"':
        return ParseStringValue(value);
      case '[':
        return ParseArray(value, depth);
      case '{':
        return ParseObject(value, depth);
      case 't':
        if (!ParseLiteral("true", 4)) return false;
        value->boolean = true;
        value->kind = JsonKind::kBoolean;
        return true;
      case 'f':
        if (!ParseLiteral("false", 5)) return false;
        value->boolean = false;
        value->kind = JsonKind::kBoolean;
        return true;
      case 'n':
        return ParseLiteral("null", 4);
      default:
        return ParseNumber(value);
    }
  }

  bool ParseLiteral(const char* word, size_t length) {
    if (static_cast<size_t>(end_ - cur_) < length || std::memcmp(cur_, word, length) != 0) {
      return Fail("invalid literal");
    }
    cur_ += length;
    return true;
  }

  // Digits at `p` are added to `mantissa`, eight at a time where they run that long.
  const char* TakeDigits(const char* p, uint64_t* mantissa) const {
    uint64_t result = *mantissa;
    while (end_ - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (!IsEightDigits(word)) break;
      result = result * 100000000 + EightDigitsValue(word);
      p += 8;
    }
    for (; p < end_ && Is(kDigit, *p); ++p) result = result * 10 + static_cast<uint64_t>(*p - '0');
    *mantissa = result;
    return p;
  }

  bool ParseNumber(JsonValue* value) {
    const char* const start = cur_;
    const char* p = cur_;
    const bool negative = *p == '-';
    if (negative) {
      ++p;
      if (p == end_) {
        cur_ = p;
        return Fail("invalid number");
      }
    }
    // The digits of the integer and the fraction as one integer; exact while there are at most
    // 19 of them.
    uint64_t mantissa = 0;
    size_t digits;
    if (*p == '0') {
      ++p;
      digits = 1;
      if (p < end_ && Is(kDigit, *p)) {
        cur_ = p;
        return Fail("leading zero in number");
      }
    } else {
      const char* first = p;
      p = TakeDigits(p, &mantissa);
      digits = static_cast<size_t>(p - first);
      if (digits == 0) {
        cur_ = p;
        return Fail("invalid number");
      }
    }
    int exponent = 0;
    if (p < end_ && *p == '.') {
      ++p;
      const char* first = p;
      p = TakeDigits(p, &mantissa);
      const size_t fraction_digits = static_cast<size_t>(p - first);
      if (fraction_digits == 0) {
        cur_ = p;
        return Fail("invalid fraction");
      }
      digits += fraction_digits;
      exponent = -static_cast<int>(std::min<size_t>(fraction_digits, 1000));
    }
    bool exponent_small = true;
    if (p < end_ && (*p | 0x20) == 'e') {
      ++p;
      bool exponent_negative = false;
      if (p < end_ && (*p == '+' || *p == '-')) {
        exponent_negative = *p == '-';
        ++p;
      }
      const char* first = p;
      int written = 0;
      for (; p < end_ && Is(kDigit, *p); ++p) {
        if (written < 10000) written = written * 10 + (*p - '0');
      }
      if (p == first) {
        cur_ = p;
        return Fail("invalid exponent");
      }
      exponent_small = written < 10000;
      exponent += exponent_negative ? -written : written;
    }
    cur_ = p;
    double number;
    if (digits <= 19 && exponent_small && FastDecimalToDouble(mantissa, exponent, &number)) {
      if (negative) number = -number;
    } else {
      auto [end, error] = std::from_chars(start, p, number);
      if (error != std::errc() || end != p || !std::isfinite(number)) {
        return Fail("number out of range");
      }
    }
    value->number = number;
    value->kind = JsonKind::kNumber;
    return true;
  }

  // From `p`, the end of the run of bytes copied as they are: the first '"', '\\', control byte
  // or the end of the input. `*high` is set when the run holds a byte of 0x80 or above.
  const char* ScanPlain(const char* p, bool* high) const {
    bool any_high = false;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i last_control = _mm_set1_epi8(0x1F);
    while (end_ - p >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(bytes, last_control), last_control);
      const __m128i stop = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)), control);
      const unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(stop));
      const unsigned highs = static_cast<unsigned>(_mm_movemask_epi8(bytes));
      if (stops != 0) {
        const int length = std::countr_zero(stops);
        *high = any_high || (highs & ((1u << length) - 1)) != 0;
        return p + length;
      }
      any_high |= highs != 0;
      p += 16;
    }
#endif
    uint64_t high_bits = 0;
    while (end_ - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (HasSpecialByte(word)) break;
      high_bits |= word;
      p += 8;
    }
    any_high |= (high_bits & kHighBits) != 0;
    for (; p < end_ && Is(kStringPlain, *p); ++p) any_high |= static_cast<uint8_t>(*p) >= 0x80;
    *high = any_high;
    return p;
  }

  // Reads the string at the cursor into `*text`: a view of the input when the string holds no
  // escape, else of its decoded bytes appended to `buffer`. The cursor ends past the closing
  // quote.
  bool ReadString(std::string* buffer, std::string_view* text) {
    if (cur_ == end_ || *cur_ != '"') return Fail("expected string");
    const char* start = cur_ + 1;
    bool high;
    const char* p = ScanPlain(start, &high);
    if (p < end_ && *p == '"') {
      cur_ = p + 1;
      const size_t length = static_cast<size_t>(p - start);
      if (high && !IsValidUtf8(start, length)) return Fail("invalid UTF-8 string");
      *text = std::string_view(start, length);
      return true;
    }
    const size_t base = buffer->size();
    buffer->append(start, static_cast<size_t>(p - start));
    cur_ = p;
    if (!DecodeEscapedRest(buffer)) return false;
    // Escapes always give whole characters, but a raw byte next to one may not be one.
    const std::string_view decoded(buffer->data() + base, buffer->size() - base);
    if (!IsValidUtf8(decoded.data(), decoded.size())) return Fail("invalid UTF-8 string");
    *text = decoded;
    return true;
  }

  // The rest of a string from an escape, a control byte or the end of the input at the cursor.
  bool DecodeEscapedRest(std::string* out) {
    for (;;) {
      if (cur_ == end_) return Fail("unterminated string");
      const char c = *cur_;
      if (c == '"') {
        ++cur_;
        return true;
      }
      if (c != '\\') return Fail("control character in string");
      ++cur_;
      if (cur_ == end_) return Fail("incomplete escape");
      switch (*cur_) {
        case '"':
        case '\\':
        case '/':
          out->push_back(*cur_);
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
          --cur_;  // stepped over below
          break;
        default:
          return Fail("invalid escape");
      }
      ++cur_;
      bool high;
      const char* p = ScanPlain(cur_, &high);
      out->append(cur_, static_cast<size_t>(p - cur_));
      cur_ = p;
    }
  }

  // The cursor stands on the 'u' of an escape; on success it is past the whole escape.
  bool ParseUnicodeEscape(std::string* out) {
    size_t pos = static_cast<size_t>(cur_ - begin_) + 1;
    using server::UnicodeEscape;
    const UnicodeEscape result = server::ReadUnicodeEscape(
        std::string_view(begin_, static_cast<size_t>(end_ - begin_)), &pos, out);
    cur_ = begin_ + pos;
    switch (result) {
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

  bool ParseStringValue(JsonValue* value) {
    std::string& buffer = scratch_.text;
    std::string_view text;
    if (!ReadString(&buffer, &text)) return false;
    ::new (&value->string) JsonString(text);
    value->kind = JsonKind::kString;
    buffer.clear();
    return true;
  }

  bool ParseArray(JsonValue* value, int depth) {
    ++cur_;
    SkipWhitespace();
    if (cur_ < end_ && *cur_ == ']') {
      ++cur_;
      value->kind = JsonKind::kArray;
      return true;
    }
    std::vector<JsonValue>& elements = scratch_.elements;
    const size_t base = elements.size();
    for (;;) {
      JsonValue element;
      if (!ParseValue(&element, depth + 1)) return false;
      elements.push_back(std::move(element));
      SkipWhitespace();
      if (cur_ == end_) return Fail("expected array separator");
      const char c = *cur_;
      if (c == ']') break;
      if (c != ',') return Fail("expected array separator");
      ++cur_;
      SkipWhitespace();
    }
    ++cur_;
    JsonArray array;
    array.reserve(elements.size() - base);
    for (size_t i = base; i < elements.size(); ++i) array.emplace_back(std::move(elements[i]));
    elements.resize(base);
    ::new (&value->array) JsonArray(std::move(array));
    value->kind = JsonKind::kArray;
    return true;
  }

  std::string_view KeyOf(const PendingMember& member) const {
    return {member.key != nullptr ? member.key : scratch_.keys.data() + member.key_at,
            member.key_size};
  }

  bool ParseObject(JsonValue* value, int depth) {
    ++cur_;
    SkipWhitespace();
    if (cur_ < end_ && *cur_ == '}') {
      ++cur_;
      value->kind = JsonKind::kObject;
      return true;
    }
    std::vector<PendingMember>& members = scratch_.members;
    const size_t base = members.size();
    const size_t keys_base = scratch_.keys.size();
    for (;;) {
      const size_t own = members.size() - base + 1;
      PendingMember& member = members.emplace_back();
      std::string_view key;
      const size_t key_at = scratch_.keys.size();
      if (!ReadString(&scratch_.keys, &key)) return FailInObject(base, own);
      // A key that held escapes is found again by its offset: the scratch may move.
      member.key = scratch_.keys.size() == key_at ? key.data() : nullptr;
      member.key_at = key_at;
      member.key_size = key.size();
      SkipWhitespace();
      if (cur_ == end_ || *cur_ != ':') {
        Fail("expected object colon");
        return FailInObject(base, own);
      }
      ++cur_;
      SkipWhitespace();
      JsonValue member_value;
      if (!ParseValue(&member_value, depth + 1)) return FailInObject(base, own);
      // Deeper objects have given their members back, so this one is last again.
      PendingMember& completed = members.back();
      completed.value = std::move(member_value);
      completed.value_end = static_cast<size_t>(cur_ - begin_);
      SkipWhitespace();
      if (cur_ == end_) {
        Fail("expected object separator");
        return FailInObject(base, own);
      }
      const char c = *cur_;
      if (c == '}') break;
      if (c != ',') {
        Fail("expected object separator");
        return FailInObject(base, own);
      }
      ++cur_;
      SkipWhitespace();
    }
    ++cur_;
    return FinishObject(value, base, keys_base);
  }

  bool FinishObject(JsonValue* value, size_t base, size_t keys_base) {
    std::vector<PendingMember>& members = scratch_.members;
    PendingMember* pending = members.data() + base;
    const size_t count = members.size() - base;
    std::vector<SortKey>& order = scratch_.order;
    order.resize(count);
    size_t key_bytes = 0;
    for (size_t i = 0; i < count; ++i) {
      if (pending[i].key == nullptr) pending[i].key = scratch_.keys.data() + pending[i].key_at;
      key_bytes += pending[i].key_size;
      order[i] = {KeyPrefix(KeyOf(pending[i])), static_cast<uint32_t>(i)};
    }
    // Most keys differ in their first eight bytes, so most comparisons are one integer compare.
    auto key_less = [pending](const SortKey& a, const SortKey& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      return std::string_view(pending[a.index].key, pending[a.index].key_size) <
             std::string_view(pending[b.index].key, pending[b.index].key_size);
    };
    // Strictly ascending keys are already in order and all differ.
    bool ascending = true;
    for (size_t i = 1; i < count && ascending; ++i) ascending = key_less(order[i - 1], order[i]);
    if (!ascending) {
      std::sort(order.begin(), order.end(), key_less);
      for (size_t i = 1; i < count; ++i) {
        if (!key_less(order[i - 1], order[i])) return FailOnDuplicate(base, count);
      }
    }
    JsonObject object;
    object.Reallocate(count, key_bytes);
    for (const SortKey& key : order) {
      PendingMember& member = pending[key.index];
      object.AppendInOrder(std::string_view(member.key, member.key_size), std::move(member.value));
    }
    members.resize(base);
    scratch_.keys.resize(keys_base);
    ::new (&value->object) JsonObject(std::move(object));
    value->kind = JsonKind::kObject;
    return true;
  }

  // A failure inside an object. When one of its members that came before the failure repeated
  // an earlier key, that came first and is the error.
  bool FailInObject(size_t base, size_t own) {
    FailOnDuplicate(base, own);
    return false;
  }

  // Among the first `count` members of the object at `base`, finds the first whose key repeats
  // an earlier one and reports it with the cursor just past its value. Returns false either way.
  bool FailOnDuplicate(size_t base, size_t count) {
    const PendingMember* pending = scratch_.members.data() + base;
    std::vector<std::pair<std::string_view, size_t>> keys;
    for (size_t i = 0; i < count; ++i) {
      if (pending[i].value_end != 0) keys.emplace_back(KeyOf(pending[i]), i);
    }
    std::sort(keys.begin(), keys.end());
    size_t first_repeat = count;
    for (size_t i = 1; i < keys.size(); ++i) {
      if (keys[i].first == keys[i - 1].first) first_repeat = std::min(first_repeat, keys[i].second);
    }
    if (first_repeat < count) {
      cur_ = begin_ + pending[first_repeat].value_end;
      Fail("duplicate object key");
    }
    return false;
  }

  // Empties the stacks (a failed parse leaves values on them) and gives back the buffers of a
  // huge document.
  void ResetScratch() {
    static constexpr size_t kKeptCapacity = 1 << 12;
    scratch_.elements.clear();
    scratch_.members.clear();
    scratch_.keys.clear();
    scratch_.text.clear();
    if (scratch_.elements.capacity() > kKeptCapacity)
      std::vector<JsonValue>().swap(scratch_.elements);
    if (scratch_.members.capacity() > kKeptCapacity) {
      std::vector<PendingMember>().swap(scratch_.members);
    }
    if (scratch_.order.capacity() > kKeptCapacity) std::vector<SortKey>().swap(scratch_.order);
    if (scratch_.keys.capacity() > kKeptCapacity * 16) std::string().swap(scratch_.keys);
    if (scratch_.text.capacity() > kKeptCapacity * 16) std::string().swap(scratch_.text);
  }

  ParseScratch& scratch_;
  const char* const begin_;
  const char* const end_;
  const char* cur_;
  const char* message_ = "";
};

namespace server {

bool ParseJson(const char* data, size_t size, JsonValue* out, std::string* error) {
  if (error != nullptr) error->clear();
  if (out == nullptr) {
    if (error != nullptr) *error = "null output at byte 0";
    return false;
  }
  if (data == nullptr) size = 0;
  return JsonParser(data, size).Parse(out, error);
}

}  // namespace server
}  // namespace kavi::win
