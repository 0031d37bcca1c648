// SPDX-License-Identifier: Apache-2.0
#include "sound/caf_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <optional>

namespace kavi::win {
namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes* b, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A chunk: type, size (the body's unless given) and body.
Bytes Chunk(const char* type, const Bytes& body, std::optional<uint64_t> size = std::nullopt) {
  Bytes b(type, type + 4);
  Put(&b, size.value_or(body.size()), 8);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

struct Desc {
  double rate = 48000;
  const char* format = "lpcm";
  uint32_t flags = 2, bytes_per_packet = 2, frames_per_packet = 1, channels = 1, bits = 16;
  size_t size = 32;
};

Bytes DescChunk(const Desc& d = {}) {
  Bytes body;
  Put(&body, std::bit_cast<uint64_t>(d.rate), 8);
  body.insert(body.end(), d.format, d.format + 4);
  for (uint32_t field : {d.flags, d.bytes_per_packet, d.frames_per_packet, d.channels, d.bits})
    Put(&body, field, 4);
  body.resize(d.size);
  return Chunk("desc", body);
}

// The edit count and `audio` bytes of little-endian samples 1, 2, 3, ...
Bytes DataChunk(size_t audio, bool runs_to_end = false) {
  Bytes body(4, 0);
  for (size_t i = 0; i < audio; ++i)
    body.push_back(i % 2 == 0 ? static_cast<uint8_t>(i / 2 + 1) : 0);
  return Chunk("data", body, runs_to_end ? std::optional(~uint64_t{0}) : std::nullopt);
}

// The file header, the chunks, then `edit` applied to the whole.
Bytes Caf(std::initializer_list<Bytes> chunks, const std::function<void(Bytes&)>& edit = {}) {
  Bytes b = {'c', 'a', 'f', 'f', 0, 1, 0, 0};
  for (const Bytes& chunk : chunks) b.insert(b.end(), chunk.begin(), chunk.end());
  if (edit) edit(b);
  return b;
}
Bytes Minimal(const std::function<void(Bytes&)>& edit) {
  return Caf({DescChunk(), DataChunk(2)}, edit);
}
Bytes WithDesc(const Desc& d) {
  return Caf({DescChunk(d), DataChunk(4)});
}

TEST(CafFile, AcceptsMonoAndStereoSkipsOtherChunksAndReadsTheWritersOutputBack) {
  SoundClip clip;
  std::string message = "untouched";
  ASSERT_TRUE(
      ParseCaf(Caf({Chunk("chan", {9, 9, 9}), DescChunk(), Chunk("free", {}), DataChunk(6)}), &clip,
               &message));
  EXPECT_EQ(message, "");
  EXPECT_EQ(clip.sample_rate, 48000u);
  EXPECT_EQ(clip.channels, 1u);
  EXPECT_EQ(clip.samples, (std::vector<int16_t>{1, 2, 3}));

  const Desc stereo{.rate = 44100, .bytes_per_packet = 4, .channels = 2};
  ASSERT_TRUE(
      ParseCaf(Caf({DescChunk(stereo), DataChunk(8, /*runs_to_end=*/true)}), &clip, nullptr));
  EXPECT_EQ(clip.channels, 2u);
  EXPECT_EQ(clip.frames(), 2u);

  SoundClip written;
  written.sample_rate = 22050;
  written.channels = 2;
  written.samples = {0, -1, 32767, -32768, 1234, -4321};
  ASSERT_TRUE(ParseCaf(WriteCaf(written), &clip, nullptr));
  EXPECT_TRUE(clip.SameFormat(written));
  EXPECT_EQ(clip.samples, written.samples);
}

TEST(CafFile, RefusesEachMalformedShapeWithItsMessageAndLeavesTheClip) {
  const struct {
    const char* name;
    Bytes bytes;
    const char* message;
  } cases[] = {
      {"empty", {}, "invalid CAF header"},
      {"short header", Caf({}, [](Bytes& b) { b.resize(6); }), "invalid CAF header"},
      {"file type", Minimal([](Bytes& b) { b[0] = 'C'; }), "invalid CAF header"},
      {"version", Minimal([](Bytes& b) { b[5] = 2; }), "invalid CAF header"},
      {"header flags", Minimal([](Bytes& b) { b[7] = 1; }), "invalid CAF header"},
      {"over 2 MiB", Caf({DescChunk(), DataChunk(kMaxCafFileBytes)}), "invalid CAF header"},
      {"chunk header cut", Minimal([](Bytes& b) { b.resize(b.size() + 11); }),
       "truncated CAF chunk"},
      {"chunk past the end", Minimal([](Bytes& b) { b.pop_back(); }), "invalid CAF chunk size"},
      {"two desc", Caf({DescChunk(), DescChunk(), DataChunk(2)}), "invalid CAF description"},
      {"desc size", Caf({DescChunk({.size = 33}), DataChunk(2)}), "invalid CAF description"},
      {"not lpcm", WithDesc({.format = "aac "}), "invalid CAF description"},
      {"fractional rate", WithDesc({.rate = 44100.5}), "unsupported CAF PCM format"},
      {"rate too low", WithDesc({.rate = 7999}), "unsupported CAF PCM format"},
      {"rate too high", WithDesc({.rate = 192001}), "unsupported CAF PCM format"},
      {"big-endian samples", WithDesc({.flags = 0}), "unsupported CAF PCM format"},
      {"float samples", WithDesc({.flags = 3}), "unsupported CAF PCM format"},
      {"three channels", WithDesc({.bytes_per_packet = 6, .channels = 3}),
       "unsupported CAF PCM format"},
      {"24 bits", WithDesc({.bits = 24}), "unsupported CAF PCM format"},
      {"packet bytes", WithDesc({.bytes_per_packet = 4}), "unsupported CAF PCM format"},
      {"frames per packet", WithDesc({.frames_per_packet = 2}), "unsupported CAF PCM format"},
      {"data before desc", Caf({DataChunk(2), DescChunk()}), "invalid CAF audio data"},
      {"two data", Caf({DescChunk(), DataChunk(2), DataChunk(2)}), "invalid CAF audio data"},
      {"edit count only", Caf({DescChunk(), DataChunk(0)}), "invalid CAF audio data"},
      {"odd mono data", Caf({DescChunk(), DataChunk(3)}), "misaligned CAF audio data"},
      {"no data", Caf({DescChunk()}), "incomplete CAF audio"},
      {"no desc", Caf({}), "incomplete CAF audio"},
  };
  for (const auto& c : cases) {
    SoundClip clip;
    clip.sample_rate = 7;
    std::string message;
    EXPECT_FALSE(ParseCaf(c.bytes, &clip, &message)) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
    EXPECT_EQ(clip.sample_rate, 7u) << c.name << ": the output changed on failure";
  }
  std::string message;
  EXPECT_FALSE(ParseCaf(Minimal({}), nullptr, &message));
  EXPECT_EQ(message, "invalid CAF header");
}

}  // namespace
}  // namespace kavi::win
