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

ChunkPipeline::ChunkPipeline(size_t chunk_bytes, size_t alignment, Consume consume,
                             size_t buffer_count)
    : consume_(std::move(consume)), chunk_bytes_(chunk_bytes) {
  buffer_count = std::max<size_t>(buffer_count, 2);
  for (size_t i = 0; i < buffer_count; ++i) {
    buffers_.push_back(MakeBuffer(chunk_bytes, alignment));
    if (i != filling_) free_.push_back(i);
  }
  thread_ = std::thread([this] { Run(); });
}

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
  std::unique_lock<std::mutex> lock(mutex_);
  if (refused_.load()) return false;
  handed_.push_back({filling_, filled_});
  changed_.notify_all();
  changed_.wait(lock, [this] { return !free_.empty() || refused_.load(); });
  if (free_.empty()) return false;
  filling_ = free_.front();
  free_.pop_front();
  filled_ = 0;
  return !refused_.load();
}

void ChunkPipeline::WaitIdle(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return handed_.empty() && !busy_; });
}

void ChunkPipeline::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !handed_.empty() || stopping_; });
    if (handed_.empty()) return;
    const Handed chunk = handed_.front();
    handed_.pop_front();
    bool consumed = false;
    if (!refused_.load()) {
      // The buffer is the thread's until it is back on the free list.
      busy_ = true;
      lock.unlock();
      consumed = consume_(std::string_view(buffers_[chunk.buffer].get(), chunk.bytes));
      lock.lock();
      busy_ = false;
    }
    if (!consumed) refused_.store(true);
    free_.push_back(chunk.buffer);
    changed_.notify_all();
  }
}

}  // namespace kavi::win
