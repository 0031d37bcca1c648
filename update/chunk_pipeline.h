// SPDX-License-Identifier: Apache-2.0
// A few chunk buffers and a thread of their own: the caller fills one buffer while the thread
// hands the filled ones, in order, to `consume`. A download receives, decrypts and hashes the
// next chunks on its own thread while earlier ones are written; with more than two buffers a
// write that stalls for a moment does not stall the transfer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace kavi::win {

class ChunkPipeline {
 public:
  // Runs on the pipeline's thread, one chunk at a time and in order; false refuses the chunk,
  // and no chunk after it is consumed.
  using Consume = std::function<bool(std::string_view chunk)>;

  // `buffer_count` buffers (at least two) of `chunk_bytes`, each starting at a multiple of
  // `alignment` (a power of two), so that a whole chunk can be written to disk directly.
  ChunkPipeline(size_t chunk_bytes, size_t alignment, Consume consume, size_t buffer_count = 2);
  // Waits for the chunks handed over (a chunk still being filled is dropped), wipes the buffers
  // (they held file content) and ends the thread.
  ~ChunkPipeline();
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  // Copies the bytes in, handing each full chunk over (waiting while every other buffer is
  // still handed over). False once a chunk was refused.
  bool Add(const char* data, size_t size);
  // Hands over the partly filled last chunk and waits until every chunk was consumed; false
  // when one was refused.
  bool Finish();

 private:
  struct Handed {
    size_t buffer;
    size_t bytes;
  };

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
  std::vector<Buffer> buffers_;
  size_t filling_ = 0;  // the caller's buffer
  size_t filled_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<size_t> free_;    // buffers neither filled nor handed over
  std::deque<Handed> handed_;  // waiting for the thread, oldest first
  bool busy_ = false;          // the thread consumes a chunk
  bool stopping_ = false;
  std::atomic<bool> refused_{false};
  std::thread thread_;
};

}  // namespace kavi::win
