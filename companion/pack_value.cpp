// SPDX-License-Identifier: Apache-2.0
#include "companion/pack_value.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "config/json_memory.h"

namespace kavi::win {

// A decoded document is thousands of small blocks freed together, and the next document wants
// the same sizes: the JSON reader's per-thread block cache serves both.
namespace {

void* Allocate(size_t bytes) {
  return AllocateJsonBlock(bytes == 0 ? 1 : bytes);
}

void Free(void* block, size_t bytes) {
  FreeJsonBlock(block, bytes == 0 ? 1 : bytes);
}

}  // namespace

size_t PackValue::BlockBytes() const {
  const size_t entry = kind_ == PackKind::kMap ? sizeof(PackMember) : sizeof(PackValue);
  return sizeof(Block) + entry * word_.block->capacity;
}

void PackValue::TakeFrom(PackValue* other) noexcept {
  // Every payload, inline bytes included, is position-independent: moving is copying 16 bytes.
  std::memcpy(static_cast<void*>(this), static_cast<const void*>(other), sizeof(PackValue));
  other->Clear();
}

void PackValue::ReleaseBlock() noexcept {
  switch (kind_) {
    case PackKind::kString:
    case PackKind::kBinary:
      if (!borrowed_) Free(word_.heap_bytes, size_);
      break;
    case PackKind::kArray: {
      PackValue* items = item_data();
      for (uint32_t i = 0; i < size_; ++i) items[i].~PackValue();
      Free(word_.block, BlockBytes());
      break;
    }
    case PackKind::kMap: {
      PackMember* members = member_data();
      for (uint32_t i = 0; i < size_; ++i) members[i].~PackMember();
      Free(word_.block, BlockBytes());
      break;
    }
    default:
      break;
  }
}

PackValue::PackValue(const PackValue& other) {
  Clear();
  switch (other.kind_) {
    case PackKind::kString:
    case PackKind::kBinary: {
      const std::string_view data = other.bytes();
      AssignBytes(other.kind_, data.data(), data.size());
      break;
    }
    case PackKind::kArray: {
      MakeContainer(PackKind::kArray, other.size_);
      const PackValue* from = other.item_data();
      for (uint32_t i = 0; i < other.size_; ++i) {
        ::new (item_data() + i) PackValue(from[i]);
        ++size_;
      }
      break;
    }
    case PackKind::kMap: {
      MakeContainer(PackKind::kMap, other.size_);
      const PackMember* from = other.member_data();
      for (uint32_t i = 0; i < other.size_; ++i) {
        ::new (member_data() + i) PackMember(from[i]);
        ++size_;
      }
      break;
    }
    default:
      std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(PackValue));
      break;
  }
}

PackValue& PackValue::operator=(const PackValue& other) {
  if (this != &other) {
    PackValue copy(other);
    *this = std::move(copy);
  }
  return *this;
}

PackValue& PackValue::operator=(PackValue&& other) noexcept {
  if (this != &other) {
    // `other` may live inside this value's tree: detach it before freeing the tree.
    PackValue taken;
    taken.TakeFrom(&other);
    Release();
    TakeFrom(&taken);
  }
  return *this;
}

PackValue PackValue::Bool(bool value) {
  PackValue v;
  v.kind_ = PackKind::kBool;
  v.word_.boolean = value;
  return v;
}

PackValue PackValue::Int(int64_t value) {
  PackValue v;
  v.kind_ = PackKind::kInt;
  v.word_.int_value = value;
  return v;
}

PackValue PackValue::Uint(uint64_t value) {
  PackValue v;
  v.kind_ = PackKind::kUint;
  v.word_.uint_value = value;
  return v;
}

PackValue PackValue::String(std::string_view text) {
  PackValue v;
  v.AssignBytes(PackKind::kString, text.data(), text.size());
  return v;
}

PackValue PackValue::Binary(std::string_view bytes) {
  PackValue v;
  v.AssignBytes(PackKind::kBinary, bytes.data(), bytes.size());
  return v;
}

PackValue PackValue::Array(std::initializer_list<PackValue> items) {
  PackValue v;
  v.MakeContainer(PackKind::kArray, static_cast<uint32_t>(items.size()));
  for (const PackValue& item : items) v.Push(item);
  return v;
}

PackValue PackValue::Map(std::initializer_list<std::pair<std::string_view, PackValue>> members) {
  PackValue v;
  v.MakeContainer(PackKind::kMap, static_cast<uint32_t>(members.size()));
  for (const auto& [key, value] : members) v.Set(key, value);
  return v;
}

void PackValue::AssignBytes(PackKind kind, const char* data, size_t size) {
  kind_ = kind;
  if (size <= kInlineBytes) {
    inline_size_ = static_cast<uint8_t>(size + 1);
    if (size != 0) std::memcpy(inline_data(), data, size);
    return;
  }
  word_.heap_bytes = static_cast<char*>(Allocate(size));
  std::memcpy(word_.heap_bytes, data, size);
  borrowed_ = false;
  size_ = static_cast<uint32_t>(size);
}

void PackValue::MakeContainer(PackKind kind, uint32_t capacity) {
  const size_t entry = kind == PackKind::kMap ? sizeof(PackMember) : sizeof(PackValue);
  word_.block = static_cast<Block*>(Allocate(sizeof(Block) + entry * capacity));
  word_.block->capacity = capacity;
  size_ = 0;
  kind_ = kind;
}

void PackValue::Reserve(uint32_t capacity) {
  if (capacity <= word_.block->capacity) return;
  const size_t entry = kind_ == PackKind::kMap ? sizeof(PackMember) : sizeof(PackValue);
  Block* grown = static_cast<Block*>(Allocate(sizeof(Block) + entry * capacity));
  // Entries are position-independent (see TakeFrom), so they move as raw bytes.
  std::memcpy(static_cast<void*>(grown + 1), static_cast<const void*>(word_.block + 1),
              entry * size_);
  Free(word_.block, BlockBytes());
  word_.block = grown;
  word_.block->capacity = capacity;
}

std::span<const PackValue> PackValue::items() const {
  if (kind_ != PackKind::kArray) return {};
  return std::span<const PackValue>(item_data(), size_);
}

std::span<PackValue> PackValue::items() {
  if (kind_ != PackKind::kArray) return {};
  return std::span<PackValue>(item_data(), size_);
}

void PackValue::Push(PackValue item) {
  if (kind_ != PackKind::kArray) {
    Release();
    Clear();
    MakeContainer(PackKind::kArray, 4);
  }
  if (size_ == word_.block->capacity) Reserve(std::max<uint32_t>(4, size_ * 2));
  ::new (item_data() + size_) PackValue(std::move(item));
  ++size_;
}

std::span<const PackMember> PackValue::members() const {
  if (kind_ != PackKind::kMap) return {};
  return std::span<const PackMember>(member_data(), size_);
}

const PackValue* PackValue::Find(std::string_view key) const {
  const std::span<const PackMember> all = members();
  const auto at = std::lower_bound(all.begin(), all.end(), key,
                                   [](const PackMember& m, auto k) { return m.name() < k; });
  return at != all.end() && at->name() == key ? &at->value : nullptr;
}

void PackValue::Set(std::string_view key, PackValue value) {
  if (kind_ != PackKind::kMap) {
    Release();
    Clear();
    MakeContainer(PackKind::kMap, 4);
  }
  PackMember* first = member_data();
  PackMember* at = std::lower_bound(first, first + size_, key,
                                    [](const PackMember& m, auto k) { return m.name() < k; });
  if (at != first + size_ && at->name() == key) {
    at->value = std::move(value);
    return;
  }
  const size_t index = static_cast<size_t>(at - first);
  PackValue name = PackValue::String(key);  // before the block moves: the key may lie in it
  if (size_ == word_.block->capacity) Reserve(std::max<uint32_t>(4, size_ * 2));
  PackMember* slot = member_data() + index;
  std::memmove(static_cast<void*>(slot + 1), static_cast<const void*>(slot),
               (size_ - index) * sizeof(PackMember));
  ::new (slot) PackMember{std::move(name), std::move(value)};
  ++size_;
}

size_t PackValue::size() const {
  return kind_ == PackKind::kArray || kind_ == PackKind::kMap ? size_ : 0;
}

bool PackValue::operator==(const PackValue& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case PackKind::kNil:
      return true;
    case PackKind::kBool:
      return word_.boolean == other.word_.boolean;
    case PackKind::kInt:
    case PackKind::kUint:
      return word_.uint_value == other.word_.uint_value;
    case PackKind::kString:
    case PackKind::kBinary:
      return bytes() == other.bytes();
    case PackKind::kArray:
      return std::ranges::equal(items(), other.items());
    case PackKind::kMap:
      return std::ranges::equal(members(), other.members(), [](const auto& a, const auto& b) {
        return a.name() == b.name() && a.value == b.value;
      });
  }
  return false;
}

}  // namespace kavi::win
