// SPDX-License-Identifier: Apache-2.0
// Two chunk buffers and a thread of their own: the caller fills one buffer while the thread
// hands the other to `consume`. A download receives and decrypts the next chunk on its own
// thread while the previous one is hashed and written, instead of doing all three in turn.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

namespace kavi::win {

class ChunkPipeline {
 public:
  // Runs on the pipeline's thread, one chunk at a time and in order; false refuses the chunk,
  // and no chunk after it is consumed.
  using Consume = std::function<bool(std::string_view chunk)>;

  // Each buffer starts at a multiple of `alignment` (a power of two), so that a whole chunk can
  // be written to disk directly.
  ChunkPipeline(size_t chunk_bytes, size_t alignment, Consume consume);
  // Waits for the chunk in hand (a chunk still being filled is dropped), wipes both buffers
  // (they held file content) and ends the thread.
  ~ChunkPipeline();
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  // Copies the bytes in, handing each full chunk over (waiting while the other one is still
  // being consumed). False once a chunk was refused.
  bool Add(const char* data, size_t size);
  // Hands over the partly filled last chunk and waits until every chunk was consumed; false
  // when one was refused.
  bool Finish();

 private:
  bool HandOver();
  void WaitIdle(std::unique_lock<std::mutex>& lock);
  void Run();

  struct FreeBuffer {
    void operator()(char* buffer) const;
  };
  using Buffer = std::unique_ptr<char[], FreeBuffer>;
  static Buffer MakeBuffer(size_t bytes, size_t alignment);

  const Consume consume_;
  const size_t chunk_bytes_;
  Buffer buffers_[2];
  int filling_ = 0;  // the caller's buffer; the thread's is the other one
  size_t filled_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  int handed_buffer_ = 0;  // the thread's buffer, while busy_
  size_t handed_ = 0;      // the bytes in it
  bool busy_ = false;
  bool stopping_ = false;
  std::atomic<bool> refused_{false};
  std::thread thread_;
};

}  // namespace kavi::win
