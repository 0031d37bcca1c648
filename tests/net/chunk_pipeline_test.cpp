// SPDX-License-Identifier: Apache-2.0
#include "update/chunk_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace kavi::win {
namespace {

// The bytes of `total`, cut into pieces of `piece` (the last may be shorter).
std::vector<std::string> Pieces(const std::string& total, size_t piece) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at < total.size(); at += piece) pieces.push_back(total.substr(at, piece));
  return pieces;
}

TEST(ChunkPipeline, HandsOverWholeAlignedChunksInOrderWhateverThePiecesAdded) {
  std::string content;
  for (int i = 0; i < 1000; ++i) content += std::to_string(i * 7919) + ",";
  struct Case {
    size_t chunk;
    size_t piece;
    size_t buffers;
  };
  for (const Case c : {Case{64, 1, 2}, Case{64, 63, 2}, Case{64, 64, 2}, Case{64, 65, 2},
                       Case{64, 5000, 2}, Case{4096, 777, 2}, Case{content.size(), 100, 2},
                       Case{64, 1, 4}, Case{64, 65, 3}, Case{64, 5000, 8}}) {
    std::vector<std::string> consumed;
    {
      ChunkPipeline pipeline(
          c.chunk, 4096,
          [&](std::string_view chunk) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(chunk.data()) % 4096, 0u);  // for O_DIRECT
            consumed.emplace_back(chunk);
            return true;
          },
          c.buffers);
      for (const std::string& piece : Pieces(content, c.piece))
        ASSERT_TRUE(pipeline.Add(piece.data(), piece.size()));
      ASSERT_TRUE(pipeline.Finish());
      ASSERT_TRUE(pipeline.Finish());  // nothing more to hand over
    }
    EXPECT_EQ(consumed, Pieces(content, c.chunk))
        << c.chunk << " by " << c.piece << " in " << c.buffers;
  }
}

TEST(ChunkPipeline, NothingIsConsumedAfterARefusedChunk) {
  std::vector<std::string> consumed;
  ChunkPipeline pipeline(4, 64, [&](std::string_view chunk) {
    consumed.emplace_back(chunk);
    return consumed.size() < 2;  // the second chunk is refused
  });
  const std::string content = "aaaabbbbccccdddd";
  bool added = true;
  for (char c : content) added = added && pipeline.Add(&c, 1);
  EXPECT_FALSE(added);
  EXPECT_FALSE(pipeline.Add("e", 1));
  EXPECT_FALSE(pipeline.Finish());
  EXPECT_EQ(consumed, (std::vector<std::string>{"aaaa", "bbbb"}));
}

// With more buffers, chunks already handed over behind a refused one are dropped, not consumed.
TEST(ChunkPipeline, ChunksQueuedBehindARefusedOneAreDropped) {
  std::vector<std::string> consumed;
  std::atomic<int> added{0};
  ChunkPipeline pipeline(
      4, 64,
      [&](std::string_view chunk) {
        while (added.load() < 12) std::this_thread::yield();  // "bbbb" and "cccc" wait behind
        consumed.emplace_back(chunk);
        return false;
      },
      4);
  bool accepted = true;
  for (char c : std::string("aaaabbbbccccdddd")) {
    accepted = accepted && pipeline.Add(&c, 1);
    ++added;
  }
  EXPECT_FALSE(accepted);
  EXPECT_FALSE(pipeline.Finish());
  EXPECT_EQ(consumed, (std::vector<std::string>{"aaaa"}));
}

TEST(ChunkPipeline, AnEmptyPipelineConsumesNothing) {
  int calls = 0;
  ChunkPipeline pipeline(16, 16, [&](std::string_view) { return ++calls > 0; });
  EXPECT_TRUE(pipeline.Finish());
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace kavi::win
