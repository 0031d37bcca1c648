// SPDX-License-Identifier: Apache-2.0
#include "companion/pack_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "text/utf8.h"

namespace kavi::win {
namespace {

// Markers of the formats the codec knows.
constexpr uint8_t kNil = 0xC0;
constexpr uint8_t kFalse = 0xC2;
constexpr uint8_t kTrue = 0xC3;
constexpr uint8_t kBin8 = 0xC4;
constexpr uint8_t kBin16 = 0xC5;
constexpr uint8_t kBin32 = 0xC6;
constexpr uint8_t kUint8 = 0xCC;
constexpr uint8_t kUint16 = 0xCD;
constexpr uint8_t kUint32 = 0xCE;
constexpr uint8_t kUint64 = 0xCF;
constexpr uint8_t kInt8 = 0xD0;
constexpr uint8_t kInt16 = 0xD1;
constexpr uint8_t kInt32 = 0xD2;
constexpr uint8_t kInt64 = 0xD3;
constexpr uint8_t kStr8 = 0xD9;
constexpr uint8_t kStr16 = 0xDA;
constexpr uint8_t kStr32 = 0xDB;
constexpr uint8_t kArray16 = 0xDC;
constexpr uint8_t kArray32 = 0xDD;
constexpr uint8_t kMap16 = 0xDE;
constexpr uint8_t kMap32 = 0xDF;
constexpr uint8_t kFixMap = 0x80;
constexpr uint8_t kFixArray = 0x90;
constexpr uint8_t kFixStr = 0xA0;
constexpr uint8_t kNegativeFixInt = 0xE0;

constexpr char kUnexpectedEnd[] = "unexpected end";
constexpr char kTrailingBytes[] = "trailing bytes";
constexpr char kInputTooLarge[] = "input too large";
constexpr char kUnsupportedMarker[] = "unsupported marker";
constexpr char kTruncatedInteger[] = "truncated integer";
constexpr char kInvalidLength[] = "invalid length";
constexpr char kTruncatedValue[] = "truncated value";
constexpr char kInvalidUtf8[] = "invalid UTF-8 string";
constexpr char kArrayTooLarge[] = "array too large";
constexpr char kTruncatedArray[] = "truncated array";
constexpr char kMapTooLarge[] = "map too large";
constexpr char kInvalidMapEntry[] = "invalid map entry";
constexpr char kDuplicateMapKey[] = "duplicate map key";
constexpr char kNestingTooDeep[] = "nesting too deep";

static_assert(std::endian::native == std::endian::little, "numbers are swapped to big-endian");

template <typename T>
T ByteSwap(T value) {
  if constexpr (sizeof(T) == 1) {
    return value;
  } else if constexpr (sizeof(T) == 2) {
    return __builtin_bswap16(value);
  } else if constexpr (sizeof(T) == 4) {
    return __builtin_bswap32(value);
  } else {
    return __builtin_bswap64(value);
  }
}

template <typename T>
T LoadBigEndian(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return ByteSwap(value);
}

template <typename T>
void StoreBigEndian(T value, char* p) {
  value = ByteSwap(value);
  std::memcpy(p, &value, sizeof value);
}

// Byte order of two keys; keys are short, where a loop beats a library call.
int CompareKeys(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  if (common > 16) {
    const int order = std::memcmp(a.data(), b.data(), common);
    if (order != 0) return order;
  } else {
    for (size_t i = 0; i < common; ++i) {
      if (a[i] != b[i]) return static_cast<uint8_t>(a[i]) < static_cast<uint8_t>(b[i]) ? -1 : 1;
    }
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// Short strings are mostly ASCII; a check of their bytes inline spares the full validator.
bool IsValidString(const char* data, size_t size) {
  if (size <= 32) {
    uint8_t high = 0;
    for (size_t i = 0; i < size; ++i) high |= static_cast<uint8_t>(data[i]);
    if (high < 0x80) return true;
  }
  return IsValidUtf8(data, size);
}

bool IsStringMarker(uint8_t marker) {
  return (marker >= kFixStr && marker <= kFixStr + 31) || marker == kStr8 || marker == kStr16 ||
         marker == kStr32;
}

}  // namespace

// Reads one document. Each step returns null or the reason it failed; a failed value is left
// for its owner to free.
class PackReader {
 public:
  PackReader(const uint8_t* begin, const uint8_t* end, bool borrow)
      : p_(begin), end_(end), borrow_(borrow) {}

  const char* Read(PackValue* out, int depth) {
    if (depth > kPackMaxDepth) return kNestingTooDeep;
    if (p_ == end_) return kUnexpectedEnd;
    const uint8_t marker = *p_++;
    if (marker < 0x80) {
      out->kind_ = PackKind::kUint;
      out->word_.uint_value = marker;
      return nullptr;
    }
    if (marker >= kNegativeFixInt) {
      out->kind_ = PackKind::kInt;
      out->word_.int_value = static_cast<int8_t>(marker);
      return nullptr;
    }
    if (marker >= kFixStr) {
      if (marker < kFixStr + 32) return ReadBytes(PackKind::kString, marker & 0x1F, out);
    } else if (marker >= kFixArray) {
      return ReadArray(marker & 0x0F, depth, out);
    } else {
      return ReadMap(marker & 0x0F, depth, out);
    }
    switch (marker) {
      case kNil:
        return nullptr;
      case kFalse:
      case kTrue:
        out->kind_ = PackKind::kBool;
        out->word_.boolean = marker == kTrue;
        return nullptr;
      case kUint8:
        return ReadUnsigned<uint8_t>(out);
      case kUint16:
        return ReadUnsigned<uint16_t>(out);
      case kUint32:
        return ReadUnsigned<uint32_t>(out);
      case kUint64:
        return ReadUnsigned<uint64_t>(out);
      case kInt8:
        return ReadSigned<int8_t>(out);
      case kInt16:
        return ReadSigned<int16_t>(out);
      case kInt32:
        return ReadSigned<int32_t>(out);
      case kInt64:
        return ReadSigned<int64_t>(out);
      case kStr8:
        return ReadSized<uint8_t>(out, depth, PackKind::kString);
      case kStr16:
        return ReadSized<uint16_t>(out, depth, PackKind::kString);
      case kStr32:
        return ReadSized<uint32_t>(out, depth, PackKind::kString);
      case kBin8:
        return ReadSized<uint8_t>(out, depth, PackKind::kBinary);
      case kBin16:
        return ReadSized<uint16_t>(out, depth, PackKind::kBinary);
      case kBin32:
        return ReadSized<uint32_t>(out, depth, PackKind::kBinary);
      case kArray16:
        return ReadSized<uint16_t>(out, depth, PackKind::kArray);
      case kArray32:
        return ReadSized<uint32_t>(out, depth, PackKind::kArray);
      case kMap16:
        return ReadSized<uint16_t>(out, depth, PackKind::kMap);
      case kMap32:
        return ReadSized<uint32_t>(out, depth, PackKind::kMap);
      default:
        return kUnsupportedMarker;
    }
  }

  bool at_end() const { return p_ == end_; }

 private:
  size_t remaining() const { return static_cast<size_t>(end_ - p_); }

  template <typename T>
  const char* ReadNumber(T* value) {
    if (remaining() < sizeof(T)) return kTruncatedInteger;
    *value = LoadBigEndian<T>(p_);
    p_ += sizeof(T);
    return nullptr;
  }

  template <typename T>
  const char* ReadUnsigned(PackValue* out) {
    T value;
    if (const char* error = ReadNumber(&value)) return error;
    out->kind_ = PackKind::kUint;
    out->word_.uint_value = value;
    return nullptr;
  }

  template <typename T>
  const char* ReadSigned(PackValue* out) {
    std::make_unsigned_t<T> bits;
    if (const char* error = ReadNumber(&bits)) return error;
    out->kind_ = PackKind::kInt;
    out->word_.int_value = static_cast<T>(bits);
    return nullptr;
  }

  // A string, byte string, array or map whose length field is a T.
  template <typename T>
  const char* ReadSized(PackValue* out, int depth, PackKind kind) {
    T length;
    if (const char* error = ReadNumber(&length)) return error;
    if constexpr (sizeof(T) > 1) {
      if (length > kPackMaxLength) return kInvalidLength;
    }
    switch (kind) {
      case PackKind::kArray:
        return ReadArray(length, depth, out);
      case PackKind::kMap:
        return ReadMap(length, depth, out);
      default:
        return ReadBytes(kind, length, out);
    }
  }

  const char* ReadBytes(PackKind kind, size_t length, PackValue* out) {
    if (length > remaining()) return kTruncatedValue;
    const char* data = reinterpret_cast<const char*>(p_);
    if (kind == PackKind::kString && !IsValidString(data, length)) return kInvalidUtf8;
    if (length <= PackValue::kInlineBytes) {
      out->kind_ = kind;
      out->inline_size_ = static_cast<uint8_t>(length + 1);
      // A fixed-size copy when the input holds that many bytes: the bytes past the string are
      // ignored (the inline size says where it ends).
      if (remaining() >= PackValue::kInlineBytes) {
        std::memcpy(out->inline_data(), data, PackValue::kInlineBytes);
      } else if (length != 0) {
        std::memcpy(out->inline_data(), data, length);
      }
    } else if (borrow_) {
      out->kind_ = kind;
      out->borrowed_ = true;
      out->size_ = static_cast<uint32_t>(length);
      // Never written through: a borrowed value only hands out views.
      out->word_.heap_bytes = const_cast<char*>(data);
    } else {
      out->AssignBytes(kind, data, length);
    }
    p_ += length;
    return nullptr;
  }

  const char* ReadArray(uint32_t count, int depth, PackValue* out) {
    if (count > kPackMaxEntries) return kArrayTooLarge;
    if (count > remaining()) return kTruncatedArray;
    out->MakeContainer(PackKind::kArray, count);
    PackValue* items = out->item_data();
    for (uint32_t i = 0; i < count; ++i) {
      ::new (items + i) PackValue();
      ++out->size_;
      if (const char* error = Read(items + i, depth + 1)) return error;
    }
    return nullptr;
  }

  const char* ReadMap(uint32_t count, int depth, PackValue* out) {
    if (count > kPackMaxEntries) return kMapTooLarge;
    // Every member takes at least two bytes; a count beyond that fails below, and must not
    // reserve memory first.
    out->MakeContainer(PackKind::kMap,
                       static_cast<uint32_t>(std::min<size_t>(count, remaining() / 2)));
    bool ordered = true;
    for (uint32_t i = 0; i < count; ++i) {
      if (p_ == end_) return kUnexpectedEnd;
      if (!IsStringMarker(*p_)) return kInvalidMapEntry;
      if (out->size_ == out->word_.block->capacity) out->Reserve(out->size_ * 2 + 1);
      PackMember* member = out->member_data() + out->size_;
      ::new (member) PackMember();
      ++out->size_;
      if (const char* error = Read(&member->key, depth + 1)) return error;
      if (i > 0) {
        const int order = CompareKeys(member->name(), member[-1].name());
        if (order == 0) return kDuplicateMapKey;
        if (order < 0) ordered = false;
      }
      if (const char* error = Read(&member->value, depth + 1)) return error;
    }
    if (!ordered) {
      PackMember* first = out->member_data();
      PackMember* last = first + out->size_;
      std::sort(first, last,
                [](const PackMember& a, const PackMember& b) { return a.name() < b.name(); });
      const auto same = [](const PackMember& a, const PackMember& b) {
        return a.name() == b.name();
      };
      if (std::adjacent_find(first, last, same) != last) return kDuplicateMapKey;
    }
    return nullptr;
  }

  const uint8_t* p_;
  const uint8_t* const end_;
  const bool borrow_;
};

// Writes the canonical encoding into a buffer that grows as needed.
class PackWriter {
 public:
  explicit PackWriter(std::string* out) : out_(out), used_(out->size()) {
    out_->resize(std::max<size_t>(used_ + 256, out_->capacity()));
  }
  ~PackWriter() { out_->resize(used_); }

  void Write(const PackValue& value) {
    switch (value.kind_) {
      case PackKind::kNil:
        Put(kNil);
        break;
      case PackKind::kBool:
        Put(value.word_.boolean ? kTrue : kFalse);
        break;
      case PackKind::kUint:
        WriteUnsigned(value.word_.uint_value);
        break;
      case PackKind::kInt:
        if (value.word_.int_value >= 0) {
          WriteUnsigned(static_cast<uint64_t>(value.word_.int_value));
        } else {
          WriteNegative(value.word_.int_value);
        }
        break;
      case PackKind::kString:
        WriteString(value.bytes());
        break;
      case PackKind::kBinary: {
        const std::string_view bytes = value.bytes();
        WriteHeader(bytes.size(), kBin8, kBin16, kBin32);
        PutBytes(bytes);
        break;
      }
      case PackKind::kArray:
        if (value.size_ <= 15) {
          Put(static_cast<uint8_t>(kFixArray | value.size_));
        } else {
          WriteLength(value.size_, kArray16, kArray32);
        }
        for (const PackValue& item : value.items()) Write(item);
        break;
      case PackKind::kMap:
        if (value.size_ <= 15) {
          Put(static_cast<uint8_t>(kFixMap | value.size_));
        } else {
          WriteLength(value.size_, kMap16, kMap32);
        }
        for (const PackMember& member : value.members()) {
          WriteString(member.name());
          Write(member.value);
        }
        break;
    }
  }

 private:
  char* Room(size_t bytes) {
    if (out_->size() - used_ < bytes) out_->resize(std::max(out_->size() * 2, used_ + bytes));
    char* at = out_->data() + used_;
    used_ += bytes;
    return at;
  }
  void Put(uint8_t byte) { *Room(1) = static_cast<char>(byte); }
  template <typename T>
  void PutNumber(uint8_t marker, T number) {
    char* at = Room(1 + sizeof(T));
    at[0] = static_cast<char>(marker);
    StoreBigEndian(number, at + 1);
  }
  void PutBytes(std::string_view bytes) {
    if (!bytes.empty()) std::memcpy(Room(bytes.size()), bytes.data(), bytes.size());
  }

  void WriteUnsigned(uint64_t v) {
    if (v < 0x80) {
      Put(static_cast<uint8_t>(v));
    } else if (v <= 0xFF) {
      PutNumber(kUint8, static_cast<uint8_t>(v));
    } else if (v <= 0xFFFF) {
      PutNumber(kUint16, static_cast<uint16_t>(v));
    } else if (v <= 0xFFFFFFFF) {
      PutNumber(kUint32, static_cast<uint32_t>(v));
    } else {
      PutNumber(kUint64, v);
    }
  }

  void WriteNegative(int64_t v) {
    if (v >= -32) {
      Put(static_cast<uint8_t>(v));
    } else if (v >= INT8_MIN) {
      PutNumber(kInt8, static_cast<uint8_t>(v));
    } else if (v >= INT16_MIN) {
      PutNumber(kInt16, static_cast<uint16_t>(v));
    } else if (v >= INT32_MIN) {
      PutNumber(kInt32, static_cast<uint32_t>(v));
    } else {
      PutNumber(kInt64, static_cast<uint64_t>(v));
    }
  }

  void WriteString(std::string_view text) {
    if (text.size() <= 31) {
      Put(static_cast<uint8_t>(kFixStr | text.size()));
    } else {
      WriteHeader(text.size(), kStr8, kStr16, kStr32);
    }
    PutBytes(text);
  }

  void WriteHeader(size_t length, uint8_t marker8, uint8_t marker16, uint8_t marker32) {
    if (length <= 0xFF) {
      PutNumber(marker8, static_cast<uint8_t>(length));
    } else {
      WriteLength(length, marker16, marker32);
    }
  }

  void WriteLength(size_t length, uint8_t marker16, uint8_t marker32) {
    if (length <= 0xFFFF) {
      PutNumber(marker16, static_cast<uint16_t>(length));
    } else {
      PutNumber(marker32, static_cast<uint32_t>(length));
    }
  }

  std::string* out_;
  size_t used_;
};

namespace {

bool Decode(std::string_view bytes, bool borrow, PackValue* value, std::string* error) {
  *value = PackValue();
  const char* failure = nullptr;
  if (bytes.size() > kPackMaxInputBytes) {
    failure = kInputTooLarge;
  } else {
    const auto* begin = reinterpret_cast<const uint8_t*>(bytes.data());
    PackReader reader(begin, begin + bytes.size(), borrow);
    failure = reader.Read(value, 0);
    if (failure == nullptr && !reader.at_end()) failure = kTrailingBytes;
  }
  if (failure != nullptr) {
    *value = PackValue();
    *error = failure;
    return false;
  }
  error->clear();
  return true;
}

}  // namespace

bool PackDecode(std::string_view bytes, PackValue* value, std::string* error) {
  return Decode(bytes, false, value, error);
}

bool PackDecodeBorrowed(std::string_view bytes, PackValue* value, std::string* error) {
  return Decode(bytes, true, value, error);
}

void PackEncodeTo(const PackValue& value, std::string* out) {
  PackWriter writer(out);
  writer.Write(value);
}

std::string PackEncode(const PackValue& value) {
  std::string out;
  PackEncodeTo(value, &out);
  return out;
}

}  // namespace kavi::win
