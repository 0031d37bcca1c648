// SPDX-License-Identifier: Apache-2.0
// The writer: compact text into one growing buffer through a raw cursor, with runs of bytes
// that need no escaping copied eight at a time and numbers printed as %.17g without the C
// library on the common magnitudes.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "config/json.h"

namespace kavi::win::server {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// True when one of the eight bytes is '"', '\\' or below 0x20: those need escaping.
inline bool HasSpecialByte(uint64_t word) {
  auto has_zero = [](uint64_t x) { return (x - kOnes) & ~x & kHighBits; };
  const uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighBits;
  return (below_space | has_zero(word ^ (kOnes * '"')) | has_zero(word ^ (kOnes * '\\'))) != 0;
}

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

constexpr uint64_t kSeventeenDigitsLow = 10000000000000000ULL;    // 10^16
constexpr uint64_t kSeventeenDigitsHigh = 100000000000000000ULL;  // 10^17

struct Powers {
  uint128 of_ten[22] = {};
  constexpr Powers() {
    of_ten[0] = 1;
    for (int i = 1; i < 22; ++i) of_ten[i] = of_ten[i - 1] * 10;
  }
};
constexpr Powers kPowers;

// "00" to "99".
struct DigitPairs {
  char text[200] = {};
  constexpr DigitPairs() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs kDigitPairs;

// `value` (below 10^8) as exactly eight digits.
inline void WriteEightDigits(uint32_t value, char* out) {
  const uint32_t high = value / 10000;
  const uint32_t low = value % 10000;
  std::memcpy(out, kDigitPairs.text + 2 * (high / 100), 2);
  std::memcpy(out + 2, kDigitPairs.text + 2 * (high % 100), 2);
  std::memcpy(out + 4, kDigitPairs.text + 2 * (low / 100), 2);
  std::memcpy(out + 6, kDigitPairs.text + 2 * (low % 100), 2);
}

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
  const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  // The magnitude is m * 2^e with 2^52 <= m < 2^53 and -70 < e < 5, so m * 10^k (k <= 21) fits
  // in 128 bits. floor((e + 52) * log10(2)) (78913 / 2^18 stands for log10(2)) is x or one less.
  int x = std::clamp(((binary_exponent + 52) * 78913) >> 18, -5, 16);
  uint64_t digits = 0;
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
    digits = static_cast<uint64_t>(scaled);
    break;
  }
  if (digits < kSeventeenDigitsLow || digits >= kSeventeenDigitsHigh) return nullptr;
  // The first digit, then two runs of eight.
  char text[17];
  const uint64_t rest = digits % kSeventeenDigitsLow;
  const auto high = static_cast<uint32_t>(rest / 100000000);
  const auto low = static_cast<uint32_t>(rest % 100000000);
  text[0] = static_cast<char>('0' + digits / kSeventeenDigitsLow);
  WriteEightDigits(high, text + 1);
  WriteEightDigits(low, text + 9);
  int significant = low != 0 ? 17 : high != 0 ? 9 : 1;
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
  // Writes from offset `start` of `buffer`, whose whole size is room to write into; Finish()
  // tells where the text ends.
  JsonWriter(std::string* buffer, size_t start) : buffer_(buffer) {
    if (buffer->size() < start + 256) buffer->resize(std::max(start + 256, buffer->capacity()));
    cursor_ = buffer->data() + start;
    limit_ = buffer->data() + buffer->size();
  }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  size_t Finish() const { return static_cast<size_t>(cursor_ - buffer_->data()); }

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
    const size_t length = Finish();
    buffer_->resize(std::max(buffer_->size() * 2, length + extra));
    cursor_ = buffer_->data() + length;
    limit_ = buffer_->data() + buffer_->size();
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
    if (std::fabs(number) < 9007199254740992.0) {
      const auto whole = static_cast<int64_t>(number);
      if (static_cast<double>(whole) == number && !(whole == 0 && std::signbit(number))) {
        cursor_ = std::to_chars(cursor_, cursor_ + 32, whole).ptr;
        return;
      }
    }
    if (char* end = FormatSeventeenDigits(number, cursor_); end != nullptr) {
      cursor_ = end;
    } else {
      cursor_ = std::to_chars(cursor_, cursor_ + 32, number, std::chars_format::general, 17).ptr;
    }
  }

  std::string* buffer_;
  char* cursor_;
  char* limit_;
};

}  // namespace

void AppendJsonString(std::string_view text, std::string* out) {
  JsonWriter writer(out, out->size());
  writer.String(text);
  out->resize(writer.Finish());
}

void AppendJson(const JsonValue& value, std::string* out) {
  JsonWriter writer(out, out->size());
  writer.Value(value);
  out->resize(writer.Finish());
}

std::string SerializeJson(const JsonValue& value) {
  // Written into a buffer that stays with the thread, at its full size, then copied once at the
  // text's exact size: a string grown by doubling would fill and touch every page of a large
  // text two or three times.
  static constexpr size_t kKeptCapacity = size_t{16} << 20;
  thread_local std::string buffer;
  JsonWriter writer(&buffer, 0);
  writer.Value(value);
  std::string out(buffer.data(), writer.Finish());
  if (buffer.size() > kKeptCapacity) std::string().swap(buffer);
  return out;
}

}  // namespace kavi::win::server
