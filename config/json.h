// The program's strict JSON dialect: RFC 8259 over UTF-8, no duplicate keys, nesting bounded,
// objects kept in key order. Used for service replies, manifests and state files; the two
// configuration files have their own key scanner (config_files.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
// A sorted vector rather than a node map: documents are built once and read, and most objects
// are small. Keys must not be changed through the iterators.
class JsonObject {
 public:
  using value_type = std::pair<std::string, JsonValue>;
  using iterator = value_type*;
  using const_iterator = const value_type*;

  JsonObject() = default;
  // Later duplicates of a key are dropped.
  JsonObject(std::initializer_list<value_type> members);

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
  void Set(std::string key, JsonValue value);
  // Inserts unless the key is present; false when it was.
  bool Insert(std::string key, JsonValue value);
  // The member of that key, inserted as null when missing.
  JsonValue& operator[](std::string_view key);
  bool Erase(std::string_view key);

  bool operator==(const JsonObject& other) const;

 private:
  friend class JsonParser;
  const_iterator LowerBound(std::string_view key) const;

  JsonVector<value_type> members_;
};

// One value. Only the field that `kind` names is meaningful; the others stay empty.
struct JsonValue {
  JsonKind kind = JsonKind::kNull;
  bool boolean = false;
  double number = 0;
  std::string string;
  JsonArray array;
  JsonObject object;

  JsonValue() = default;
  JsonValue(const JsonValue&) = default;
  JsonValue& operator=(const JsonValue&) = default;
  // Moving leaves the source null and empty.
  JsonValue(JsonValue&& other) noexcept;
  JsonValue& operator=(JsonValue&& other) noexcept;

  bool is_null() const { return kind == JsonKind::kNull; }
  bool is_boolean() const { return kind == JsonKind::kBoolean; }
  bool is_number() const { return kind == JsonKind::kNumber; }
  bool is_string() const { return kind == JsonKind::kString; }
  bool is_array() const { return kind == JsonKind::kArray; }
  bool is_object() const { return kind == JsonKind::kObject; }

  // Same kind and same content; numbers compare as doubles (so -0 equals 0).
  bool operator==(const JsonValue& other) const;
};

inline size_t JsonObject::size() const {
  return members_.size();
}
inline bool JsonObject::empty() const {
  return members_.empty();
}
inline JsonObject::iterator JsonObject::begin() {
  return members_.begin();
}
inline JsonObject::iterator JsonObject::end() {
  return members_.end();
}
inline JsonObject::const_iterator JsonObject::begin() const {
  return members_.begin();
}
inline JsonObject::const_iterator JsonObject::end() const {
  return members_.end();
}
inline bool JsonObject::Contains(std::string_view key) const {
  return Find(key) != nullptr;
}

namespace server {

// Nesting depth of the top-level value is 0; a container at this depth may only be empty.
inline constexpr int kJsonMaxDepth = 64;

// Builders. Containers and strings are moved in.
JsonValue MakeJsonNull();
JsonValue MakeJsonBool(bool value);
// A non-finite number gives null.
JsonValue MakeJsonNumber(double value);
JsonValue MakeJsonString(std::string value);
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
