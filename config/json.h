// SPDX-License-Identifier: Apache-2.0
// The program's strict JSON dialect: RFC 8259 over UTF-8, no duplicate keys, nesting bounded,
// objects kept in key order. Used for service replies, manifests and state files; the two
// configuration files have their own key scanner (config_files.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/json_string.h"
#include "config/json_vector.h"

namespace kavi::win {

enum class JsonKind : int32_t {
  kNull = 0,
  kBoolean = 1,
  kNumber = 2,
  kString = 3,
  kArray = 4,
  kObject = 5,
};

struct JsonValue;

// The elements of an array, in document order.
using JsonArray = JsonVector<JsonValue>;

// The members of an object, sorted by key in ascending byte order (a prefix sorts first).
// One heap block holds the count, the members and the bytes of every key, so a parsed object
// costs one allocation however many keys it has. Members are read like those of a std::map:
// `first` is the key (a view into the block, valid until the object changes), `second` the
// value.
class JsonObject {
 public:
  using value_type = std::pair<const std::string_view, JsonValue>;
  using iterator = value_type*;
  using const_iterator = const value_type*;

  JsonObject() = default;
  // Later duplicates of a key are dropped.
  JsonObject(std::initializer_list<std::pair<std::string_view, JsonValue>> members);
  JsonObject(const JsonObject& other);
  JsonObject(JsonObject&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
  JsonObject& operator=(const JsonObject& other);
  JsonObject& operator=(JsonObject&& other) noexcept;
  ~JsonObject();

  // Defined below JsonValue, which they need complete.
  size_t size() const;
  bool empty() const;
  iterator begin();
  iterator end();
  const_iterator begin() const;
  const_iterator end() const;

  const JsonValue* Find(std::string_view key) const;
  JsonValue* Find(std::string_view key);
  bool Contains(std::string_view key) const;
  // Inserts or replaces the member.
  void Set(std::string_view key, JsonValue value);
  // Inserts unless the key is present; false when it was.
  bool Insert(std::string_view key, JsonValue value);
  // The member of that key, inserted as null when missing.
  JsonValue& operator[](std::string_view key);
  bool Erase(std::string_view key);

  bool operator==(const JsonObject& other) const;

 private:
  friend class JsonParser;

  struct Block {
    size_t size;
    size_t capacity;
    size_t key_bytes;  // used at the end of the key area, including bytes of erased keys
    size_t key_capacity;
  };
  // The members start right after the block's header; the keys after the last member slot.
  static constexpr size_t kMembersAt = sizeof(Block);

  value_type* members() const;
  char* keys() const;
  static size_t BlockBytes(size_t capacity, size_t key_capacity);

  // Where `key` is or would go.
  size_t LowerBound(std::string_view key) const;
  // Makes a block with room for `capacity` members and `key_capacity` key bytes; the members
  // move over with their keys packed.
  void Reallocate(size_t capacity, size_t key_capacity);
  // Inserts a member at `index`, which keeps the order.
  value_type& InsertAt(size_t index, std::string_view key, JsonValue value);
  // Appends a member whose key sorts after every other, into room made by Reallocate.
  void AppendInOrder(std::string_view key, JsonValue&& value);

  Block* block_ = nullptr;
};

// One value: a kind and the one field that the kind names. Reading another field is reading
// the wrong member of a union. Set `kind` only through the builders or by assigning a whole
// value: the value's destructor trusts it.
struct JsonValue {
  JsonKind kind = JsonKind::kNull;
  union {
    bool boolean;
    double number;
    JsonString string;
    JsonArray array;
    JsonObject object;
  };

  JsonValue() noexcept : number(0) {}
  JsonValue(const JsonValue& other);
  // Moving leaves the source null.
  JsonValue(JsonValue&& other) noexcept : kind(other.kind) {
    TakePayload(&other);
    other.kind = JsonKind::kNull;
  }
  JsonValue& operator=(const JsonValue& other);
  JsonValue& operator=(JsonValue&& other) noexcept {
    if (kind < JsonKind::kString && this != &other) {
      // Nothing of this value to free, so `other` cannot lie inside it.
      kind = other.kind;
      TakePayload(&other);
      other.kind = JsonKind::kNull;
      return *this;
    }
    return MoveAssignOverTree(&other);
  }
  ~JsonValue() {
    if (kind >= JsonKind::kString) DestroyPayload();
  }

  bool is_null() const { return kind == JsonKind::kNull; }
  bool is_boolean() const { return kind == JsonKind::kBoolean; }
  bool is_number() const { return kind == JsonKind::kNumber; }
  bool is_string() const { return kind == JsonKind::kString; }
  bool is_array() const { return kind == JsonKind::kArray; }
  bool is_object() const { return kind == JsonKind::kObject; }

  // Same kind and same content; numbers compare as doubles (so -0 equals 0).
  bool operator==(const JsonValue& other) const;

 private:
  // Every payload is one word that its owner gives up by being zeroed, so a move copies the
  // word and leaves the source's word zero (an empty payload of any kind).
  void TakePayload(JsonValue* other) {
    std::memcpy(static_cast<void*>(&number), static_cast<const void*>(&other->number),
                sizeof(number));
    other->number = 0;
  }
  void DestroyPayload();
  JsonValue& MoveAssignOverTree(JsonValue* other) noexcept;
};

static_assert(sizeof(JsonValue) == 16, "a value is a kind and one word");

static_assert(sizeof(size_t) * 4 % alignof(JsonObject::value_type) == 0,
              "members follow the header");

inline size_t JsonObject::size() const {
  return block_ == nullptr ? 0 : block_->size;
}
inline bool JsonObject::empty() const {
  return size() == 0;
}
inline JsonObject::value_type* JsonObject::members() const {
  return block_ == nullptr
             ? nullptr
             : reinterpret_cast<value_type*>(reinterpret_cast<char*>(block_) + kMembersAt);
}
inline char* JsonObject::keys() const {
  return reinterpret_cast<char*>(members() + block_->capacity);
}
inline size_t JsonObject::BlockBytes(size_t capacity, size_t key_capacity) {
  return kMembersAt + capacity * sizeof(value_type) + key_capacity;
}
inline void JsonObject::AppendInOrder(std::string_view key, JsonValue&& value) {
  char* key_at = keys() + block_->key_bytes;
  if (!key.empty()) std::memcpy(key_at, key.data(), key.size());
  block_->key_bytes += key.size();
  ::new (members() + block_->size)
      value_type(std::string_view(key_at, key.size()), std::move(value));
  ++block_->size;
}
inline JsonObject::iterator JsonObject::begin() {
  return members();
}
inline JsonObject::iterator JsonObject::end() {
  return members() + size();
}
inline JsonObject::const_iterator JsonObject::begin() const {
  return members();
}
inline JsonObject::const_iterator JsonObject::end() const {
  return members() + size();
}
inline bool JsonObject::Contains(std::string_view key) const {
  return Find(key) != nullptr;
}
inline const JsonValue* JsonObject::Find(std::string_view key) const {
  const size_t index = LowerBound(key);
  if (index == size() || members()[index].first != key) return nullptr;
  return &members()[index].second;
}
inline JsonValue* JsonObject::Find(std::string_view key) {
  return const_cast<JsonValue*>(std::as_const(*this).Find(key));
}

namespace server {

// Nesting depth of the top-level value is 0; a container at this depth may only be empty.
inline constexpr int kJsonMaxDepth = 64;

// Builders. Containers are moved in; a string's bytes are copied into the value.
JsonValue MakeJsonNull();
JsonValue MakeJsonBool(bool value);
// A non-finite number gives null.
JsonValue MakeJsonNumber(double value);
JsonValue MakeJsonString(std::string_view value);
JsonValue MakeJsonArray(std::vector<JsonValue> elements);
JsonValue MakeJsonObject(JsonObject members);

// Parses exactly one JSON text. On failure `out` is untouched and `error` (when given) holds
// the message followed by " at byte " and the offset, e.g. "duplicate object key at byte 17".
bool ParseJson(const char* data, size_t size, JsonValue* out, std::string* error);
inline bool ParseJson(std::string_view text, JsonValue* out, std::string* error) {
  return ParseJson(text.data(), text.size(), out, error);
}

// Compact text: no whitespace, members in key order, numbers as %.17g.
std::string SerializeJson(const JsonValue& value);
// Appends the serialised value to `out`.
void AppendJson(const JsonValue& value, std::string* out);
// Appends `text` as a quoted JSON string with the writer's escaping.
void AppendJsonString(std::string_view text, std::string* out);

// How reading a "\uXXXX" escape ended.
enum class UnicodeEscape {
  kDecoded,
  kIncomplete,        // fewer than four characters left
  kInvalidDigit,      // a character that is not a hexadecimal digit
  kLoneLowSurrogate,  // a low surrogate with no high one before it
  kMissingLowSurrogate,
  kInvalidLowSurrogate,
};
// Reads the four hexadecimal digits at text[*pos] (just after "\u") and, after a high surrogate,
// the "\uXXXX" of its low one, into a code point, and appends it to `out` as UTF-8. `pos` ends
// past the escape, or on a failure where the fault was found.
UnicodeEscape ReadUnicodeEscape(std::string_view text, size_t* pos, std::string* out);

// Null when `value` is not an object or has no member `key`.
const JsonValue* FindJsonMember(const JsonValue& value, std::string_view key);
// True when the member is a number with no fractional part in [-2^63, 2^63).
bool GetJsonInt64(const JsonValue& value, std::string_view key, int64_t* out);
// True when the member is a string.
bool GetJsonString(const JsonValue& value, std::string_view key, std::string* out);

}  // namespace server
}  // namespace kavi::win
