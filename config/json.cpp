// SPDX-License-Identifier: Apache-2.0
// Values, objects, builders and lookups. The reader is in json_parser.cpp, the writer in
// json_writer.cpp.
#include "config/json.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "text/utf8.h"

namespace kavi::win {

// ---------------------------------------------------------------------------------------------
// JsonObject

JsonObject::JsonObject(std::initializer_list<std::pair<std::string_view, JsonValue>> members) {
  for (const auto& [key, value] : members) Insert(key, value);
}

JsonObject::JsonObject(const JsonObject& other) {
  if (other.empty()) return;
  size_t key_bytes = 0;
  for (const value_type& member : other) key_bytes += member.first.size();
  Reallocate(other.size(), key_bytes);
  for (const value_type& member : other) AppendInOrder(member.first, JsonValue(member.second));
}

JsonObject& JsonObject::operator=(const JsonObject& other) {
  if (this != &other) {
    JsonObject copy(other);
    std::swap(block_, copy.block_);
  }
  return *this;
}

JsonObject& JsonObject::operator=(JsonObject&& other) noexcept {
  // Taken first: `other` may be a member of a value inside this object.
  Block* taken = std::exchange(other.block_, nullptr);
  JsonObject old;
  old.block_ = std::exchange(block_, taken);
  return *this;
}

JsonObject::~JsonObject() {
  if (block_ == nullptr) return;
  for (value_type& member : *this) member.~value_type();
  FreeJsonBlock(block_, BlockBytes(block_->capacity, block_->key_capacity));
}

size_t JsonObject::LowerBound(std::string_view key) const {
  const value_type* first = members();
  const value_type* found = std::lower_bound(
      first, first + size(), key,
      [](const value_type& member, std::string_view wanted) { return member.first < wanted; });
  return static_cast<size_t>(found - first);
}

void JsonObject::Reallocate(size_t capacity, size_t key_capacity) {
  auto* fresh = static_cast<Block*>(AllocateJsonBlock(BlockBytes(capacity, key_capacity)));
  ::new (fresh) Block{0, capacity, 0, key_capacity};
  Block* old = std::exchange(block_, fresh);
  if (old == nullptr) return;
  auto* old_members = reinterpret_cast<value_type*>(reinterpret_cast<char*>(old) + kMembersAt);
  for (size_t i = 0; i < old->size; ++i) {
    AppendInOrder(old_members[i].first, std::move(old_members[i].second));
    old_members[i].~value_type();
  }
  FreeJsonBlock(old, BlockBytes(old->capacity, old->key_capacity));
}

JsonObject::value_type& JsonObject::InsertAt(size_t index, std::string_view key, JsonValue value) {
  const size_t count = size();
  if (block_ == nullptr || count == block_->capacity ||
      block_->key_capacity - block_->key_bytes < key.size()) {
    // The key may lie in this block; keep it until the copy is made.
    const std::string held(key);
    size_t live_key_bytes = held.size();
    for (const value_type& member : *this) live_key_bytes += member.first.size();
    Reallocate(std::max<size_t>(4, count * 2), std::max<size_t>(32, live_key_bytes * 2));
    return InsertAt(index, held, std::move(value));
  }
  value_type* slots = members();
  // Each member from the back steps one place up, making room at `index`.
  for (size_t i = count; i > index; --i) {
    ::new (slots + i) value_type(slots[i - 1].first, std::move(slots[i - 1].second));
    slots[i - 1].~value_type();
  }
  char* key_at = keys() + block_->key_bytes;
  if (!key.empty()) std::memcpy(key_at, key.data(), key.size());
  block_->key_bytes += key.size();
  ::new (slots + index) value_type(std::string_view(key_at, key.size()), std::move(value));
  ++block_->size;
  return slots[index];
}

void JsonObject::Set(std::string_view key, JsonValue value) {
  const size_t index = LowerBound(key);
  if (index < size() && members()[index].first == key) {
    members()[index].second = std::move(value);
  } else {
    InsertAt(index, key, std::move(value));
  }
}

bool JsonObject::Insert(std::string_view key, JsonValue value) {
  const size_t index = LowerBound(key);
  if (index < size() && members()[index].first == key) return false;
  InsertAt(index, key, std::move(value));
  return true;
}

JsonValue& JsonObject::operator[](std::string_view key) {
  const size_t index = LowerBound(key);
  if (index < size() && members()[index].first == key) return members()[index].second;
  return InsertAt(index, key, JsonValue()).second;
}

bool JsonObject::Erase(std::string_view key) {
  const size_t index = LowerBound(key);
  if (index == size() || members()[index].first != key) return false;
  // The key's bytes stay unused in the block until it is next reallocated.
  value_type* slots = members();
  slots[index].~value_type();
  for (size_t i = index + 1; i < size(); ++i) {
    ::new (slots + i - 1) value_type(slots[i].first, std::move(slots[i].second));
    slots[i].~value_type();
  }
  --block_->size;
  return true;
}

bool JsonObject::operator==(const JsonObject& other) const {
  return std::equal(begin(), end(), other.begin(), other.end(),
                    [](const value_type& a, const value_type& b) {
                      return a.first == b.first && a.second == b.second;
                    });
}

// ---------------------------------------------------------------------------------------------
// JsonValue

JsonValue::JsonValue(const JsonValue& other) : JsonValue() {
  switch (other.kind) {
    case JsonKind::kNull:
      break;
    case JsonKind::kBoolean:
      boolean = other.boolean;
      break;
    case JsonKind::kNumber:
      number = other.number;
      break;
    case JsonKind::kString:
      ::new (&string) JsonString(other.string);
      break;
    case JsonKind::kArray:
      ::new (&array) JsonArray(other.array);
      break;
    case JsonKind::kObject:
      ::new (&object) JsonObject(other.object);
      break;
  }
  kind = other.kind;
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) *this = JsonValue(other);
  return *this;
}

JsonValue& JsonValue::MoveAssignOverTree(JsonValue* other) noexcept {
  // Taken first: `other` may lie inside this value's own tree.
  JsonValue taken;
  taken.kind = other->kind;
  taken.TakePayload(other);
  other->kind = JsonKind::kNull;
  DestroyPayload();
  kind = taken.kind;
  TakePayload(&taken);
  taken.kind = JsonKind::kNull;
  return *this;
}

namespace {

// A large document's blocks are no longer in the cache when it is destroyed, and each one is
// read to be freed: ask for them a few values ahead.
constexpr size_t kPrefetchAhead = 8;

void PrefetchPayload(const JsonValue& value) {
  if (value.kind < JsonKind::kString) return;
  uintptr_t word;
  std::memcpy(&word, &value.number, sizeof(word));
  __builtin_prefetch(reinterpret_cast<const void*>(word & ~uintptr_t{1}));
}

}  // namespace

void JsonValue::DestroyPayload() {
  switch (kind) {
    case JsonKind::kString:
      string.~JsonString();
      break;
    case JsonKind::kArray: {
      // Emptied element by element with the fetches running ahead, then freed.
      JsonValue* elements = array.data();
      const size_t count = array.size();
      for (size_t i = 0; i < count; ++i) {
        if (i + kPrefetchAhead < count) PrefetchPayload(elements[i + kPrefetchAhead]);
        if (elements[i].kind >= JsonKind::kString) {
          elements[i].DestroyPayload();
          elements[i].kind = JsonKind::kNull;
        }
      }
      array.~JsonArray();
      break;
    }
    case JsonKind::kObject: {
      JsonObject::value_type* members = object.begin();
      const size_t count = object.size();
      for (size_t i = 0; i < count; ++i) {
        if (i + kPrefetchAhead < count) PrefetchPayload(members[i + kPrefetchAhead].second);
        JsonValue& member = members[i].second;
        if (member.kind >= JsonKind::kString) {
          member.DestroyPayload();
          member.kind = JsonKind::kNull;
        }
      }
      object.~JsonObject();
      break;
    }
    default:
      break;
  }
  number = 0;
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

namespace server {

// ---------------------------------------------------------------------------------------------
// Builders

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

JsonValue MakeJsonString(std::string_view value) {
  JsonValue result;
  ::new (&result.string) JsonString(value);
  result.kind = JsonKind::kString;
  return result;
}

JsonValue MakeJsonArray(std::vector<JsonValue> elements) {
  JsonValue result;
  ::new (&result.array) JsonArray(std::move(elements));
  result.kind = JsonKind::kArray;
  return result;
}

JsonValue MakeJsonObject(JsonObject members) {
  JsonValue result;
  ::new (&result.object) JsonObject(std::move(members));
  result.kind = JsonKind::kObject;
  return result;
}

// ---------------------------------------------------------------------------------------------
// Escapes and lookups

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hexadecimal digits; `pos` ends past them, or on the first that is not one.
UnicodeEscape ReadHex4(std::string_view text, size_t* pos, uint32_t* unit) {
  if (text.size() - *pos < 4) return UnicodeEscape::kIncomplete;
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i) {
    int digit = HexValue(text[*pos]);
    if (digit < 0) return UnicodeEscape::kInvalidDigit;
    result = (result << 4) | static_cast<uint32_t>(digit);
    ++*pos;
  }
  *unit = result;
  return UnicodeEscape::kDecoded;
}

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
