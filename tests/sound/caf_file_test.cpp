// SPDX-License-Identifier: Apache-2.0
#include "sound/caf_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>

namespace kavi::win {
namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes* b, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutType(Bytes* b, const char* t) {
  b->insert(b->end(), t, t + 4);
}

struct Desc {
  double rate = 48000;
  const char* format = "lpcm";
  uint32_t flags = 2, bytes_per_packet = 2, frames_per_packet = 1, channels = 1, bits = 16;
};

void PutDesc(Bytes* b, const Desc& d, uint64_t size = 32) {
  PutType(b, "desc");
  Put(b, size, 8);
  Put(b, std::bit_cast<uint64_t>(d.rate), 8);
  PutType(b, d.format);
  Put(b, d.flags, 4);
  Put(b, d.bytes_per_packet, 4);
  Put(b, d.frames_per_packet, 4);
  Put(b, d.channels, 4);
  Put(b, d.bits, 4);
  for (uint64_t i = 32; i < size; ++i) b->push_back(0);
}

// A data chunk with the edit count and `audio` bytes of little-endian samples 1, 2, 3, ...
void PutData(Bytes* b, size_t audio, bool runs_to_end = false) {
  PutType(b, "data");
  Put(b, runs_to_end ? ~uint64_t{0} : 4 + audio, 8);
  Put(b, 0, 4);
  for (size_t i = 0; i < audio; ++i) b->push_back(i % 2 == 0 ? static_cast<uint8_t>(i / 2 + 1) : 0);
}

Bytes Header() {
  Bytes b;
  PutType(&b, "caff");
  Put(&b, 1, 2);
  Put(&b, 0, 2);
  return b;
}

Bytes File(const std::function<void(Bytes*)>& chunks) {
  Bytes b = Header();
  chunks(&b);
  return b;
}

std::string Parse(const Bytes& bytes, SoundClip* clip = nullptr) {
  SoundClip local;
  std::string message = "untouched";
  return ParseCaf(bytes, clip ? clip : &local, &message) ? "ok" : message;
}

TEST(CafFile, AcceptsMonoAndStereoAndSkipsOtherChunks) {
  SoundClip clip;
  EXPECT_EQ(Parse(File([](Bytes* b) {
                    PutType(b, "chan");
                    Put(b, 3, 8);
                    b->insert(b->end(), {9, 9, 9});
                    PutDesc(b, {});
                    PutType(b, "free");
                    Put(b, 0, 8);
                    PutData(b, 6);
                  }),
                  &clip),
            "ok");
  EXPECT_EQ(clip.sample_rate, 48000u);
  EXPECT_EQ(clip.channels, 1u);
  EXPECT_EQ(clip.samples, (std::vector<int16_t>{1, 2, 3}));

  Desc stereo;
  stereo.rate = 44100;
  stereo.channels = 2;
  stereo.bytes_per_packet = 4;
  EXPECT_EQ(Parse(File([&](Bytes* b) {
                    PutDesc(b, stereo);
                    PutData(b, 8, /*runs_to_end=*/true);
                  }),
                  &clip),
            "ok");
  EXPECT_EQ(clip.channels, 2u);
  EXPECT_EQ(clip.frames(), 2u);
}

TEST(CafFile, RefusesEachMalformedShapeWithItsMessage) {
  auto with_desc = [](std::function<void(Desc*)> change) {
    return File([change](Bytes* b) {
      Desc d;
      change(&d);
      PutDesc(b, d);
      PutData(b, 4);
    });
  };
  Bytes too_big = File([](Bytes* b) {
    PutDesc(b, {});
    PutData(b, kMaxCafFileBytes);
  });
  Bytes bad_type = File([](Bytes* b) {
    PutDesc(b, {});
    PutData(b, 2);
  });
  bad_type[0] = 'C';
  Bytes bad_version = File([](Bytes* b) {
    PutDesc(b, {});
    PutData(b, 2);
  });
  bad_version[5] = 2;
  Bytes bad_flags = File([](Bytes* b) {
    PutDesc(b, {});
    PutData(b, 2);
  });
  bad_flags[7] = 1;

  const struct {
    const char* name;
    Bytes bytes;
    const char* message;
  } cases[] = {
      {"empty", {}, "invalid CAF header"},
      {"short header", Bytes{'c', 'a', 'f', 'f', 0, 1}, "invalid CAF header"},
      {"file type", bad_type, "invalid CAF header"},
      {"version", bad_version, "invalid CAF header"},
      {"header flags", bad_flags, "invalid CAF header"},
      {"over 2 MiB", too_big, "invalid CAF header"},
      {"chunk header cut", File([](Bytes* b) {
         PutDesc(b, {});
         PutData(b, 2);
         b->resize(b->size() + 11);
       }),
       "truncated CAF chunk"},
      {"chunk past the end", File([](Bytes* b) {
         PutDesc(b, {});
         PutData(b, 2);
         b->pop_back();
       }),
       "invalid CAF chunk size"},
      {"two desc", File([](Bytes* b) {
         PutDesc(b, {});
         PutDesc(b, {});
         PutData(b, 2);
       }),
       "invalid CAF description"},
      {"desc size", File([](Bytes* b) {
         PutDesc(b, {}, 33);
         PutData(b, 2);
       }),
       "invalid CAF description"},
      {"not lpcm", with_desc([](Desc* d) { d->format = "aac "; }), "invalid CAF description"},
      {"fractional rate", with_desc([](Desc* d) { d->rate = 44100.5; }),
       "unsupported CAF PCM format"},
      {"rate too low", with_desc([](Desc* d) { d->rate = 7999; }), "unsupported CAF PCM format"},
      {"rate too high", with_desc([](Desc* d) { d->rate = 192001; }), "unsupported CAF PCM format"},
      {"big-endian samples", with_desc([](Desc* d) { d->flags = 0; }),
       "unsupported CAF PCM format"},
      {"float samples", with_desc([](Desc* d) { d->flags = 3; }), "unsupported CAF PCM format"},
      {"three channels", with_desc([](Desc* d) {
         d->channels = 3;
         d->bytes_per_packet = 6;
       }),
       "unsupported CAF PCM format"},
      {"24 bits", with_desc([](Desc* d) { d->bits = 24; }), "unsupported CAF PCM format"},
      {"packet bytes", with_desc([](Desc* d) { d->bytes_per_packet = 4; }),
       "unsupported CAF PCM format"},
      {"frames per packet", with_desc([](Desc* d) { d->frames_per_packet = 2; }),
       "unsupported CAF PCM format"},
      {"data before desc", File([](Bytes* b) {
         PutData(b, 2);
         PutDesc(b, {});
       }),
       "invalid CAF audio data"},
      {"two data", File([](Bytes* b) {
         PutDesc(b, {});
         PutData(b, 2);
         PutData(b, 2);
       }),
       "invalid CAF audio data"},
      {"edit count only", File([](Bytes* b) {
         PutDesc(b, {});
         PutData(b, 0);
       }),
       "invalid CAF audio data"},
      {"odd mono data", File([](Bytes* b) {
         PutDesc(b, {});
         PutData(b, 3);
       }),
       "misaligned CAF audio data"},
      {"no data", File([](Bytes* b) { PutDesc(b, {}); }), "incomplete CAF audio"},
      {"no desc", Header(), "incomplete CAF audio"},
  };
  for (const auto& c : cases) {
    SoundClip clip;
    clip.sample_rate = 7;
    EXPECT_EQ(Parse(c.bytes, &clip), c.message) << c.name;
    EXPECT_EQ(clip.sample_rate, 7u) << c.name << ": the output changed on failure";
  }
  std::string message;
  EXPECT_FALSE(ParseCaf(File([](Bytes* b) {
                          PutDesc(b, {});
                          PutData(b, 2);
                        }),
                        nullptr, &message));
  EXPECT_EQ(message, "invalid CAF header");
}

TEST(CafFile, WriterOutputReadsBackExactly) {
  SoundClip clip;
  clip.sample_rate = 22050;
  clip.channels = 2;
  clip.samples = {0, -1, 32767, -32768, 1234, -4321};
  SoundClip read;
  std::string message = "x";
  ASSERT_TRUE(ParseCaf(WriteCaf(clip), &read, &message)) << message;
  EXPECT_TRUE(message.empty());
  EXPECT_TRUE(read.SameFormat(clip));
  EXPECT_EQ(read.samples, clip.samples);
}

}  // namespace
}  // namespace kavi::win
