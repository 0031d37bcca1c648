// SPDX-License-Identifier: Apache-2.0
// The byte string of a JSON string value: one pointer wide, so that a value is 16 bytes. Texts of
// up to seven bytes sit in the handle itself (most keys and many short values), longer ones in a
// heap block that holds the length and the bytes. It reads like a std::string_view.
#pragma once

#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "config/json_memory.h"

namespace kavi::win {

class JsonString {
 public:
  static constexpr size_t kInlineCapacity = 7;

  JsonString() noexcept = default;
  JsonString(std::string_view text) { Assign(text); }  // NOLINT: converting on purpose
  JsonString(const char* text) : JsonString(std::string_view(text)) {}
  JsonString(const std::string& text) : JsonString(std::string_view(text)) {}
  JsonString(const JsonString& other) : JsonString(other.view()) {}
  JsonString(JsonString&& other) noexcept : bits_(std::exchange(other.bits_, 0)) {}
  ~JsonString() { Free(); }

  JsonString& operator=(const JsonString& other) {
    if (this != &other) Replace(other.view());
    return *this;
  }
  JsonString& operator=(JsonString&& other) noexcept {
    if (this != &other) {
      Free();
      bits_ = std::exchange(other.bits_, 0);
    }
    return *this;
  }
  JsonString& operator=(std::string_view text) {
    Replace(text);
    return *this;
  }
  JsonString& operator=(const char* text) { return *this = std::string_view(text); }
  JsonString& operator=(const std::string& text) { return *this = std::string_view(text); }

  size_t size() const { return IsHeap() ? heap()->size : (bits_ & 0xFF) >> 1; }
  bool empty() const { return size() == 0; }
  const char* data() const {
    return IsHeap() ? heap()->chars : reinterpret_cast<const char*>(&bits_) + 1;
  }
  const char* begin() const { return data(); }
  const char* end() const { return data() + size(); }
  char operator[](size_t i) const { return data()[i]; }
  char front() const { return data()[0]; }
  char back() const { return data()[size() - 1]; }

  std::string_view view() const { return {data(), size()}; }
  operator std::string_view() const { return view(); }  // NOLINT: converting on purpose
  std::string str() const { return std::string(view()); }

  void clear() { Free(); }
  void swap(JsonString& other) noexcept { std::swap(bits_, other.bits_); }

  // One overload each: two JsonStrings, std::string and literals all meet here.
  friend bool operator==(const JsonString& a, std::string_view b) { return a.view() == b; }
  friend std::strong_ordering operator<=>(const JsonString& a, std::string_view b) {
    return a.view() <=> b;
  }
  friend std::ostream& operator<<(std::ostream& out, const JsonString& text) {
    return out << text.view();
  }

 private:
  // The low byte of the handle is the inline length shifted left by one, with the inline bytes
  // after it; or the heap pointer (aligned to 16 bytes) with its low bit set and, in the three
  // bits above, the block's size in 16-byte units when it is at most seven, so that freeing a
  // string need not read its block. All zero bits are the empty string.
  static_assert(std::endian::native == std::endian::little, "the inline bytes follow the tag");
  struct Heap {
    size_t size;
    char chars[1];
  };

  bool IsHeap() const { return (bits_ & 1) != 0; }
  Heap* heap() const { return reinterpret_cast<Heap*>(bits_ & ~uintptr_t{0xF}); }

  void Assign(std::string_view text) {
    if (text.size() <= kInlineCapacity) {
      bits_ = static_cast<uintptr_t>(text.size()) << 1;
      if (!text.empty()) std::memcpy(reinterpret_cast<char*>(&bits_) + 1, text.data(), text.size());
      return;
    }
    auto* heap = static_cast<Heap*>(AllocateJsonBlock(BlockBytes(text.size())));
    heap->size = text.size();
    std::memcpy(heap->chars, text.data(), text.size());
    heap->chars[text.size()] = '\0';
    const size_t units = (BlockBytes(text.size()) + 15) / 16;
    bits_ = reinterpret_cast<uintptr_t>(heap) | (units <= 7 ? units << 1 : 0) | 1;
  }
  // `text` may lie inside this string.
  void Replace(std::string_view text) {
    JsonString copy(text);
    swap(copy);
  }
  static size_t BlockBytes(size_t size) { return offsetof(Heap, chars) + size + 1; }
  void Free() {
    if (IsHeap()) {
      const size_t units = (bits_ >> 1) & 7;
      FreeJsonBlock(heap(), units != 0 ? units * 16 : BlockBytes(heap()->size));
    }
    bits_ = 0;
  }

  uintptr_t bits_ = 0;
};

}  // namespace kavi::win
