// SPDX-License-Identifier: Apache-2.0
// The MessagePack codec: canonical encodings at every size boundary, every limit of the decoder,
// and input outside the accepted subset refused with its reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companion/pack_codec.h"
#include "text/hex.h"

namespace kavi::win {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// A marker followed by a big-endian length.
std::string Header(int marker, uint64_t length, int width) {
  std::string out(1, static_cast<char>(marker));
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<char>(length >> (8 * i)));
  return out;
}

std::string DecodeError(const std::string& bytes) {
  PackValue value = PackValue::String("left over");
  std::string error;
  EXPECT_FALSE(PackDecode(bytes, &value, &error)) << HexEncode(bytes);
  EXPECT_TRUE(value.is_nil());
  return error;
}

PackValue Decoded(const std::string& bytes) {
  PackValue value;
  std::string error = "stale";
  EXPECT_TRUE(PackDecode(bytes, &value, &error))
      << error << " in " << HexEncode(bytes.substr(0, 32));
  EXPECT_TRUE(error.empty());
  return value;
}

TEST(PackEncode, EveryFormAtItsBoundaries) {
  struct Case {
    PackValue value;
    std::string hex;
  };
  const std::string s31(31, 'x'), s32(32, 'x');
  const std::vector<Case> cases = {
      {PackValue::Nil(), "c0"},
      {PackValue::Bool(false), "c2"},
      {PackValue::Bool(true), "c3"},
      {PackValue::Uint(0), "00"},
      {PackValue::Uint(127), "7f"},
      {PackValue::Uint(128), "cc80"},
      {PackValue::Uint(255), "ccff"},
      {PackValue::Uint(256), "cd0100"},
      {PackValue::Uint(65535), "cdffff"},
      {PackValue::Uint(65536), "ce00010000"},
      {PackValue::Uint(4294967295u), "ceffffffff"},
      {PackValue::Uint(4294967296u), "cf0000000100000000"},
      {PackValue::Int(5), "05"},  // non-negative signed integers are written as unsigned
      {PackValue::Int(200), "ccc8"},
      {PackValue::Int(-1), "ff"},
      {PackValue::Int(-32), "e0"},
      {PackValue::Int(-33), "d0df"},
      {PackValue::Int(-128), "d080"},
      {PackValue::Int(-129), "d1ff7f"},
      {PackValue::Int(-32768), "d18000"},
      {PackValue::Int(-32769), "d2ffff7fff"},
      {PackValue::Int(INT32_MIN), "d280000000"},
      {PackValue::Int(int64_t{INT32_MIN} - 1), "d3ffffffff7fffffff"},
      {PackValue::Int(INT64_MIN), "d38000000000000000"},
      {PackValue::String(""), "a0"},
      {PackValue::String(s31), "bf" + HexEncode(s31)},
      {PackValue::String(s32), "d920" + HexEncode(s32)},
      {PackValue::Binary(""), "c400"},
      {PackValue::Binary("ab"), "c4026162"},
      {PackValue::Array(), "90"},
      {PackValue::Map(), "80"},
      // Members in ascending byte order, whatever order they were set in.
      {PackValue::Map(
           {{"b", PackValue::Uint(1)}, {"a", PackValue::Int(-1)}, {"B", PackValue::Nil()}}),
       "83a142c0a161ffa16201"},
      {PackValue::Array({PackValue::String("id"), PackValue::Map({{"k", PackValue::Bool(true)}})}),
       "92a2696481a16bc3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HexEncode(PackEncode(c.value)), c.hex);
    PackValue back = Decoded(PackEncode(c.value));
    EXPECT_EQ(PackEncode(back), PackEncode(c.value));
  }
}

TEST(PackEncode, LongLengthsSwitchForms) {
  struct Case {
    size_t length;
    std::string string_head;
    std::string binary_head;
  };
  const std::vector<Case> cases = {
      {255, "d9ff", "c4ff"},
      {256, "da0100", "c50100"},
      {65535, "daffff", "c5ffff"},
      {65536, "db00010000", "c600010000"},
  };
  for (const Case& c : cases) {
    const std::string text(c.length, 'z');
    EXPECT_EQ(HexEncode(PackEncode(PackValue::String(text)).substr(0, c.string_head.size() / 2)),
              c.string_head);
    EXPECT_EQ(HexEncode(PackEncode(PackValue::Binary(text)).substr(0, c.binary_head.size() / 2)),
              c.binary_head);
    EXPECT_EQ(Decoded(PackEncode(PackValue::String(text))).bytes(), text);
  }
  for (const auto& [count, array_head, map_head] :
       std::vector<std::tuple<uint32_t, std::string, std::string>>{
           {15, "9f", "8f"}, {16, "dc0010", "de0010"}, {65536, "dd00010000", "df00010000"}}) {
    PackValue array = PackValue::Array();
    PackValue map = PackValue::Map();
    for (uint32_t i = 0; i < count; ++i) {
      array.Push(PackValue::Nil());
      map.Set(std::to_string(1000000 + i), PackValue::Nil());
    }
    EXPECT_EQ(HexEncode(PackEncode(array).substr(0, array_head.size() / 2)), array_head);
    EXPECT_EQ(HexEncode(PackEncode(map).substr(0, map_head.size() / 2)), map_head);
    EXPECT_EQ(Decoded(PackEncode(map)).size(), count);
  }
}

TEST(PackDecode, AcceptedFormsAndTheirKinds) {
  EXPECT_TRUE(Decoded(Bytes({0xC0})).is_nil());
  EXPECT_EQ(Decoded(Bytes({0x05})), PackValue::Uint(5));
  EXPECT_EQ(Decoded(Bytes({0xF0})), PackValue::Int(-16));
  // Longer forms than needed decode to the same value and re-encode in the shortest form.
  EXPECT_EQ(Decoded(Bytes({0xCD, 0x00, 0x05})), PackValue::Uint(5));
  EXPECT_EQ(Decoded(Bytes({0xD0, 0x05})), PackValue::Int(5));
  EXPECT_EQ(HexEncode(PackEncode(Decoded(Bytes({0xD3, 0, 0, 0, 0, 0, 0, 0, 5})))), "05");
  EXPECT_EQ(Decoded(Bytes({0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0})), PackValue::Int(INT64_MIN));
  EXPECT_EQ(Decoded(Bytes({0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})),
            PackValue::Uint(UINT64_MAX));
  EXPECT_EQ(Decoded(Bytes({0xDA, 0x00, 0x02, 'h', 'i'})), PackValue::String("hi"));
  EXPECT_EQ(Decoded(Bytes({0xC6, 0, 0, 0, 1, 0xFF})), PackValue::Binary("\xFF"));
  EXPECT_EQ(Decoded(Bytes({0xDC, 0x00, 0x01, 0xC3})), PackValue::Array({PackValue::Bool(true)}));
  EXPECT_EQ(Decoded("\xa3\xe4\xbd\xa0"), PackValue::String("你"));
}

TEST(PackDecode, MapsFromAnyOrderAreKeptSortedAndReencodeCanonically) {
  // {"b": 1, "a": 2} as a sender may write it.
  const PackValue map = Decoded(Bytes({0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02}));
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.members()[0].name(), "a");
  EXPECT_EQ(*map.Find("b"), PackValue::Uint(1));
  EXPECT_EQ(map.Find("c"), nullptr);
  EXPECT_EQ(HexEncode(PackEncode(map)), "82a16102a16201");
}

TEST(PackDecode, RefusesWhatLiesOutsideTheFormatsAndLimits) {
  const std::string depth64 = std::string(64, '\x91') + '\x01';
  const std::string eight_mib_bin =
      Header(0xC6, kPackMaxInputBytes - 5, 4) + std::string(kPackMaxInputBytes - 5, 'b');
  EXPECT_EQ(Decoded(eight_mib_bin).bytes().size(), kPackMaxInputBytes - 5);
  EXPECT_EQ(Decoded(depth64).items()[0].kind(), PackKind::kArray);
  EXPECT_EQ(Decoded(std::string(64, '\x91') + '\x90').size(), 1u);

  struct Case {
    std::string bytes;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"", "unexpected end"},
      {Bytes({0x92, 0x01}), "truncated array"},
      {Bytes({0x92, 0x01, 0x01, 0x01}), "trailing bytes"},
      {Bytes({0x81, 0xA1, 'a'}), "unexpected end"},
      {eight_mib_bin + "x", "input too large"},
      {Bytes({0xCA, 0, 0, 0, 0}), "unsupported marker"},  // float 32
      {Bytes({0xCB, 0, 0, 0, 0, 0, 0, 0, 0}), "unsupported marker"},
      {Bytes({0xC1}), "unsupported marker"},
      {Bytes({0xD4, 0x01, 0x00}), "unsupported marker"},  // fixext 1
      {Bytes({0xC7, 0x01, 0x01, 0x00}), "unsupported marker"},
      {Bytes({0xCD, 0x01}), "truncated integer"},
      {Bytes({0xD3, 0, 0, 0}), "truncated integer"},
      {Bytes({0xDA, 0x00}), "truncated integer"},
      {Header(0xDB, kPackMaxLength + 1, 4), "invalid length"},
      {Header(0xC6, kPackMaxLength + 1, 4), "invalid length"},
      {Header(0xDD, kPackMaxLength + 1, 4), "invalid length"},
      {Header(0xDF, kPackMaxLength + 1, 4), "invalid length"},
      {Header(0xC5, 3, 2) + "ab", "truncated value"},
      {Bytes({0xA3, 'a', 'b'}), "truncated value"},
      {Bytes({0xA2, 0xC0, 0x80}), "invalid UTF-8 string"},              // overlong
      {Bytes({0xA3, 0xED, 0xA0, 0x80}), "invalid UTF-8 string"},        // a surrogate
      {Bytes({0xA4, 0xF4, 0x90, 0x80, 0x80}), "invalid UTF-8 string"},  // above U+10FFFF
      {Header(0xDD, kPackMaxEntries + 1, 4), "array too large"},
      {Header(0xDD, 5, 4) + "\xc0\xc0", "truncated array"},
      {Header(0xDF, kPackMaxEntries + 1, 4), "map too large"},
      {Bytes({0x81, 0x01, 0x02}), "invalid map entry"},
      {Bytes({0x81, 0xC4, 0x01, 'a', 0x02}), "invalid map entry"},  // a binary key
      {Bytes({0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02}), "duplicate map key"},
      {Bytes({0x83, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02, 0xA1, 'b', 0x03}), "duplicate map key"},
      {std::string(65, '\x91') + '\x01', "nesting too deep"},
      {std::string(65, '\x91') + '\x90', "nesting too deep"},
      {std::string(64, '\x91') + Bytes({0x81, 0xA1, 'k', 0x01}), "nesting too deep"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DecodeError(c.bytes), c.error) << HexEncode(c.bytes.substr(0, 24));
}

TEST(PackDecode, ABorrowingDecodePointsIntoItsInputAndItsCopiesOwnTheirBytes) {
  const std::string long_text(40, 'x'), long_bytes(300, '\x01');
  const std::string doc = PackEncode(PackValue::Map({{"b", PackValue::Binary(long_bytes)},
                                                     {"s", PackValue::String(long_text)},
                                                     {"t", PackValue::String("short")}}));
  std::string input = doc;
  PackValue borrowed;
  std::string error;
  ASSERT_TRUE(PackDecodeBorrowed(input, &borrowed, &error)) << error;
  EXPECT_EQ(borrowed, Decoded(doc));
  const std::string_view view = borrowed.Find("b")->bytes();
  EXPECT_TRUE(view.data() > input.data() && view.data() < input.data() + input.size());
  PackValue copy = borrowed;
  borrowed = PackValue();
  EXPECT_EQ(input, doc);  // releasing the borrowed value left the input alone
  input.assign(input.size(), '\0');
  EXPECT_EQ(copy.Find("b")->bytes(), long_bytes);
  EXPECT_EQ(copy.Find("s")->bytes(), long_text);
  EXPECT_FALSE(PackDecodeBorrowed(Bytes({0xA2, 0xC0, 0x80}), &borrowed, &error));
  EXPECT_EQ(error, "invalid UTF-8 string");
}

TEST(PackDecode, TheLargestCountsDecode) {
  std::string array = Header(0xDD, kPackMaxEntries, 4) + std::string(kPackMaxEntries, '\xc0');
  EXPECT_EQ(Decoded(array).size(), kPackMaxEntries);
  PackValue map = PackValue::Map();
  for (uint32_t i = 0; i < kPackMaxEntries; ++i)
    map.Set(std::to_string(1000000 + i), PackValue::Uint(i));  // in key order: appended
  const PackValue back = Decoded(PackEncode(map));
  EXPECT_EQ(back, map);
}

TEST(PackValue, BuildsCopiesAndMovesTrees) {
  PackValue doc = PackValue::Map({{"list", PackValue::Array()}});
  for (int i = 0; i < 40; ++i)
    doc.Find("list")->Push(PackValue::Map({{"id", PackValue::String(std::string(i, 'i'))}}));
  doc.Set("list_ver", PackValue::String("7"));
  doc.Set("list_ver", PackValue::Uint(8));  // replaces
  const PackValue copy = doc;
  EXPECT_EQ(copy, doc);
  EXPECT_EQ(copy.Find("list")->items()[39].Find("id")->bytes(), std::string(39, 'i'));
  // Assigning a member of a tree to the tree itself keeps the member.
  PackValue tree = doc;
  tree = std::move(*tree.Find("list"));
  EXPECT_EQ(tree.size(), 40u);
  EXPECT_EQ(*doc.Find("list_ver"), PackValue::Uint(8));
  EXPECT_NE(PackValue::Int(5), PackValue::Uint(5));
  // A new key that is a view into the map's own (moving) block.
  PackValue keys = PackValue::Map({{"short", PackValue::Nil()}});
  for (size_t i = 1; i < 5; ++i)
    keys.Set(keys.members()[keys.size() - 1].name().substr(0, i), PackValue::Nil());
  EXPECT_EQ(keys.size(), 5u);
  EXPECT_NE(keys.Find("shor"), nullptr);
}

}  // namespace
}  // namespace kavi::win
