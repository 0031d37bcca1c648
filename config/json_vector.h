// SPDX-License-Identifier: Apache-2.0
// The growable sequence behind JSON arrays: one pointer wide, with the count and the elements
// in one heap block, so that an array fits in a value's one word.
#pragma once

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "config/json_memory.h"

namespace kavi::win {

template <typename T>
class JsonVector {
 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  JsonVector() = default;
  JsonVector(const JsonVector& other) { CopyFrom(other); }
  JsonVector(JsonVector&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
  // Takes the elements of a standard vector.
  JsonVector(std::vector<T>&& elements) {  // NOLINT: converting on purpose
    reserve(elements.size());
    for (T& element : elements) push_back(std::move(element));
    elements.clear();
  }
  ~JsonVector() { Free(); }

  JsonVector& operator=(const JsonVector& other) {
    if (this != &other) {
      JsonVector copy(other);
      swap(copy);
    }
    return *this;
  }
  JsonVector& operator=(JsonVector&& other) noexcept {
    if (this != &other) {
      Free();
      data_ = std::exchange(other.data_, nullptr);
    }
    return *this;
  }

  void swap(JsonVector& other) noexcept { std::swap(data_, other.data_); }

  size_t size() const { return data_ == nullptr ? 0 : header()->size; }
  size_t capacity() const { return data_ == nullptr ? 0 : header()->capacity; }
  bool empty() const { return size() == 0; }

  T* begin() { return data_; }
  T* end() { return data_ + size(); }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size(); }
  T* data() { return data_; }
  const T* data() const { return data_; }

  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& front() { return data_[0]; }
  const T& front() const { return data_[0]; }
  T& back() { return data_[size() - 1]; }
  const T& back() const { return data_[size() - 1]; }

  void reserve(size_t capacity) {
    if (capacity <= this->capacity()) return;
    const size_t count = size();
    MoveInto(Allocate(capacity), count);
    header()->size = count;
  }

  template <typename... Args>
  T& emplace_back(Args&&... args) {
    const size_t count = size();
    if (count < capacity()) {
      T* slot = ::new (data_ + count) T(std::forward<Args>(args)...);
      ++header()->size;
      return *slot;
    }
    // The new element is built before the old ones move, so it may be a copy of one of them.
    T* fresh = Allocate(count == 0 ? 4 : count * 2);
    T* slot = ::new (fresh + count) T(std::forward<Args>(args)...);
    MoveInto(fresh, count);
    header()->size = count + 1;
    return *slot;
  }
  void push_back(const T& value) { emplace_back(value); }
  void push_back(T&& value) { emplace_back(std::move(value)); }

  template <typename... Args>
  T* emplace(const T* position, Args&&... args) {
    const size_t index = static_cast<size_t>(position - data_);
    emplace_back(std::forward<Args>(args)...);
    std::rotate(data_ + index, end() - 1, end());
    return data_ + index;
  }
  T* insert(const T* position, T&& value) { return emplace(position, std::move(value)); }

  T* erase(const T* position) {
    const size_t index = static_cast<size_t>(position - data_);
    std::move(data_ + index + 1, end(), data_ + index);
    pop_back();
    return data_ + index;
  }
  void pop_back() {
    back().~T();
    --header()->size;
  }
  void clear() {
    if (data_ == nullptr) return;
    for (T& element : *this) element.~T();
    header()->size = 0;
  }

  bool operator==(const JsonVector& other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
  }

 private:
  struct Header {
    size_t size;
    size_t capacity;
  };
  // The elements start this far into the block, aligned for any of them.
  static constexpr size_t kHeaderBytes = (sizeof(Header) + alignof(std::max_align_t) - 1) /
                                         alignof(std::max_align_t) * alignof(std::max_align_t);

  Header* header() const {
    return reinterpret_cast<Header*>(reinterpret_cast<char*>(data_) - kHeaderBytes);
  }

  static T* Allocate(size_t capacity) {
    char* block = static_cast<char*>(AllocateJsonBlock(kHeaderBytes + capacity * sizeof(T)));
    auto* header = ::new (block) Header{0, capacity};
    (void)header;
    return reinterpret_cast<T*>(block + kHeaderBytes);
  }
  // Moves the `count` elements into `fresh` and makes it the storage.
  void MoveInto(T* fresh, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      ::new (fresh + i) T(std::move(data_[i]));
      data_[i].~T();
    }
    Deallocate();
    data_ = fresh;
  }
  void Deallocate() {
    if (data_ != nullptr) {
      FreeJsonBlock(reinterpret_cast<char*>(data_) - kHeaderBytes,
                    kHeaderBytes + capacity() * sizeof(T));
    }
    data_ = nullptr;
  }
  void Free() {
    clear();
    Deallocate();
  }
  void CopyFrom(const JsonVector& other) {
    if (other.empty()) return;
    reserve(other.size());
    for (const T& element : other) emplace_back(element);
  }

  T* data_ = nullptr;
};

}  // namespace kavi::win
