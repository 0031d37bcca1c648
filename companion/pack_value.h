// SPDX-License-Identifier: Apache-2.0
// The in-memory MessagePack document of the companion protocol: nil, bool, signed and unsigned
// 64-bit integers, UTF-8 strings, byte strings, arrays, and maps from string keys kept in
// ascending byte order with unique keys (so that encoding them is canonical).
//
// A value is 16 bytes: its kind and one word. Strings and byte strings of up to 14 bytes live
// inside the value; longer ones, arrays and maps live in one heap block each, except the longer
// strings and byte strings of a borrowing decode (PackDecodeBorrowed), which point into the
// decoded bytes instead. Views handed out (bytes(), a member's key) stay valid until the value
// they came from changes or moves; a copy of a value owns all of its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace kavi::win {

enum class PackKind : uint8_t {
  kNil = 0,
  kBool = 1,
  kInt = 2,
  kUint = 3,
  kString = 4,
  kBinary = 5,
  kArray = 6,
  kMap = 7,
};

struct PackMember;

class PackValue {
 public:
  PackValue() noexcept { Clear(); }
  PackValue(const PackValue& other);
  PackValue(PackValue&& other) noexcept { TakeFrom(&other); }
  PackValue& operator=(const PackValue& other);
  PackValue& operator=(PackValue&& other) noexcept;
  ~PackValue() { Release(); }

  static PackValue Nil() { return PackValue(); }
  static PackValue Bool(bool value);
  static PackValue Int(int64_t value);
  static PackValue Uint(uint64_t value);
  // The text must be valid UTF-8 for the value to encode to a document that decodes again.
  static PackValue String(std::string_view text);
  static PackValue Binary(std::string_view bytes);
  static PackValue Array(std::initializer_list<PackValue> items = {});
  // Later duplicates of a key replace earlier ones.
  static PackValue Map(std::initializer_list<std::pair<std::string_view, PackValue>> members = {});

  PackKind kind() const { return kind_; }
  bool is_nil() const { return kind() == PackKind::kNil; }
  bool is_bool() const { return kind() == PackKind::kBool; }
  bool is_int() const { return kind() == PackKind::kInt; }
  bool is_uint() const { return kind() == PackKind::kUint; }
  bool is_string() const { return kind() == PackKind::kString; }
  bool is_binary() const { return kind() == PackKind::kBinary; }
  bool is_array() const { return kind() == PackKind::kArray; }
  bool is_map() const { return kind() == PackKind::kMap; }

  // The payload of the value's own kind; another kind gives false, 0 or empty.
  bool boolean() const { return is_bool() && word_.boolean; }
  int64_t int_value() const { return is_int() ? word_.int_value : 0; }
  uint64_t uint_value() const { return is_uint() ? word_.uint_value : 0; }
  // A string's or byte string's bytes.
  std::string_view bytes() const {
    if (kind_ != PackKind::kString && kind_ != PackKind::kBinary) return {};
    if (inline_size_ != 0) return std::string_view(inline_data(), inline_size_ - 1u);
    return std::string_view(word_.heap_bytes, size_);
  }

  // An array's elements.
  std::span<const PackValue> items() const;
  std::span<PackValue> items();
  void Push(PackValue item);  // turns a non-array into an empty array first

  // A map's members in key order.
  std::span<const PackMember> members() const;
  // The member's value, or null (also when this is not a map).
  const PackValue* Find(std::string_view key) const;
  PackValue* Find(std::string_view key) {
    return const_cast<PackValue*>(static_cast<const PackValue*>(this)->Find(key));
  }
  // Inserts or replaces the member; turns a non-map into an empty map first.
  void Set(std::string_view key, PackValue value);

  // Number of elements or members; 0 for other kinds.
  size_t size() const;

  // Same kind and payload (an int 5 and a uint 5 differ); maps compare member by member.
  bool operator==(const PackValue& other) const;

 private:
  friend class PackReader;
  friend class PackWriter;

  static constexpr size_t kInlineBytes = 14;
  // Inline bytes start after the kind and the inline size and run to the end of the value.
  static constexpr size_t kInlineDataAt = 2;

  // The header of an array's or a map's heap block; the entries follow it.
  struct Block {
    uint32_t capacity;
    uint32_t unused;
  };
  static_assert(sizeof(Block) % 8 == 0, "entries follow the header");

  void Clear() noexcept {
    kind_ = PackKind::kNil;
    inline_size_ = 0;
    borrowed_ = false;
    size_ = 0;
    word_.uint_value = 0;
  }
  void TakeFrom(PackValue* other) noexcept;
  void Release() noexcept {
    if (kind_ >= PackKind::kString && inline_size_ == 0) ReleaseBlock();
  }
  void ReleaseBlock() noexcept;
  char* inline_data() { return reinterpret_cast<char*>(this) + kInlineDataAt; }
  const char* inline_data() const { return reinterpret_cast<const char*>(this) + kInlineDataAt; }
  // Sets this (nil) value to bytes of the given kind, inline when short.
  void AssignBytes(PackKind kind, const char* data, size_t size);
  // Makes this (nil) value an array or map with room for `capacity` entries.
  void MakeContainer(PackKind kind, uint32_t capacity);
  void Reserve(uint32_t capacity);
  PackMember* member_data() const { return reinterpret_cast<PackMember*>(word_.block + 1); }
  PackValue* item_data() const { return reinterpret_cast<PackValue*>(word_.block + 1); }
  size_t BlockBytes() const;  // of an array's or map's block

  PackKind kind_;
  uint8_t inline_size_;  // an inline string's or byte string's size + 1; 0 otherwise
  // Bytes outside the value point into someone else's memory (meaningful only when they are
  // not inline: inline bytes overlay this field).
  bool borrowed_;
  uint8_t unused_;
  uint32_t size_;  // heap bytes, elements or members
  union {
    bool boolean;
    int64_t int_value;
    uint64_t uint_value;
    char* heap_bytes;
    Block* block;
  } word_;
};

static_assert(sizeof(PackValue) == 16, "a value is its kind and one word");

struct PackMember {
  PackValue key;  // always a string
  PackValue value;

  std::string_view name() const { return key.bytes(); }
};

}  // namespace kavi::win
