// SPDX-License-Identifier: Apache-2.0
#include "update/chunk_pipeline.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include <openssl/crypto.h>

namespace kavi::win {

void ChunkPipeline::FreeBuffer::operator()(char* buffer) const {
  std::free(buffer);
}

ChunkPipeline::Buffer ChunkPipeline::MakeBuffer(size_t bytes, size_t alignment) {
  const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  char* buffer = static_cast<char*>(std::aligned_alloc(alignment, rounded));
  if (buffer == nullptr) throw std::bad_alloc();
  return Buffer(buffer);
}

ChunkPipeline::ChunkPipeline(size_t chunk_bytes, size_t alignment, Consume consume)
    : consume_(std::move(consume)),
      chunk_bytes_(chunk_bytes),
      buffers_{MakeBuffer(chunk_bytes, alignment), MakeBuffer(chunk_bytes, alignment)},
      thread_([this] { Run(); }) {}

ChunkPipeline::~ChunkPipeline() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  for (Buffer& buffer : buffers_) OPENSSL_cleanse(buffer.get(), chunk_bytes_);
}

bool ChunkPipeline::Add(const char* data, size_t size) {
  while (size > 0) {
    if (refused_.load()) return false;
    const size_t take = std::min(chunk_bytes_ - filled_, size);
    std::copy_n(data, take, buffers_[filling_].get() + filled_);
    filled_ += take;
    data += take;
    size -= take;
    if (filled_ == chunk_bytes_ && !HandOver()) return false;
  }
  return !refused_.load();
}

bool ChunkPipeline::Finish() {
  if (filled_ != 0 && !HandOver()) return false;
  std::unique_lock<std::mutex> lock(mutex_);
  WaitIdle(lock);
  return !refused_.load();
}

bool ChunkPipeline::HandOver() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitIdle(lock);
    if (refused_.load()) return false;
    handed_buffer_ = filling_;
    handed_ = filled_;
    busy_ = true;
  }
  changed_.notify_all();
  filling_ ^= 1;
  filled_ = 0;
  return true;
}

void ChunkPipeline::WaitIdle(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !busy_; });
}

void ChunkPipeline::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || stopping_; });
    if (!busy_) return;
    // The caller fills the other buffer meanwhile; this one is the thread's until busy_ drops.
    const std::string_view chunk(buffers_[handed_buffer_].get(), handed_);
    lock.unlock();
    const bool consumed = consume_(chunk);
    lock.lock();
    if (!consumed) refused_.store(true);
    busy_ = false;
    handed_ = 0;
    changed_.notify_all();
  }
}

}  // namespace kavi::win
