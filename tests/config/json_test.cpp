// SPDX-License-Identifier: Apache-2.0
#include "config/json.h"
#include "text/utf8.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace kavi::win::server {
namespace {

std::string ErrorOf(std::string_view text) {
  JsonValue value = MakeJsonString("untouched");
  std::string error;
  EXPECT_FALSE(ParseJson(text, &value, &error)) << text;
  EXPECT_EQ(value, MakeJsonString("untouched")) << "a failed parse must not touch the output";
  return error;
}

JsonValue Parse(std::string_view text) {
  JsonValue value;
  std::string error = "stale";
  EXPECT_TRUE(ParseJson(text, &value, &error)) << text << ": " << error;
  EXPECT_EQ(error, "");
  return value;
}

std::string Nested(int depth, std::string_view inner) {
  return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

TEST(JsonParse, ReportsTheFirstErrorWithItsByteOffset) {
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {"", "unexpected end at byte 0"},
      {" \t\r\n", "unexpected end at byte 4"},
      {"1 2", "trailing content at byte 2"},
      {"nullx", "trailing content at byte 4"},
      {"nul", "invalid literal at byte 0"},
      {"[tru]", "invalid literal at byte 1"},
      {"-", "invalid number at byte 1"},
      {"-x", "invalid number at byte 1"},
      {"+1", "invalid number at byte 0"},
      {".5", "invalid number at byte 0"},
      {"01", "leading zero in number at byte 1"},
      {"-012", "leading zero in number at byte 2"},
      {"1.", "invalid fraction at byte 2"},
      {"1.e5", "invalid fraction at byte 2"},
      {"1e+", "invalid exponent at byte 3"},
      {"1E", "invalid exponent at byte 2"},
      {"1e400", "number out of range at byte 5"},
      {"-1e400", "number out of range at byte 6"},
      {"\"abc", "unterminated string at byte 4"},
      {"\"a\tb\"", "control character in string at byte 2"},
      {"\"a\\", "incomplete escape at byte 3"},
      {"\"\\q\"", "invalid escape at byte 2"},
      {"\"\\u12\"", "incomplete unicode escape at byte 3"},
      {"\"\\u12x4\"", "invalid unicode escape at byte 5"},
      {"\"\\ud83d\"", "missing low surrogate at byte 7"},
      {"\"\\ud83d\\u12\"", "incomplete unicode escape at byte 9"},
      {"\"\\ud83d\\u0041\"", "invalid low surrogate at byte 13"},
      {"\"\\ude00\"", "unexpected low surrogate at byte 7"},
      {"\"\xC0\x80\"", "invalid UTF-8 string at byte 4"},
      {"\"\xED\xA0\x80\"", "invalid UTF-8 string at byte 5"},
      {"[1,]", "invalid number at byte 3"},
      {"[1 2]", "expected array separator at byte 3"},
      {"[1", "expected array separator at byte 2"},
      {"{1:2}", "expected string at byte 1"},
      {"{\"a\":1,}", "expected string at byte 7"},
      {"{\"a\" 1}", "expected object colon at byte 5"},
      {"{\"a\":1 \"b\":2}", "expected object separator at byte 7"},
      {"{\"a\":", "unexpected end at byte 5"},
      {"{\"a\":1,\"a\":2}", "duplicate object key at byte 12"},
      // A repeated key is the error even when the object fails later, and the earliest repeat
      // in the text wins, in this object or an outer one.
      {"{\"a\":1,\"a\":2,\"b\":x}", "duplicate object key at byte 12"},
      {"{\"a\":1,\"a\":2 x", "duplicate object key at byte 12"},
      {"{\"b\":1,\"a\":1,\"a\":2,\"b\":2}", "duplicate object key at byte 18"},
      {"{\"a\":1,\"a\":2,\"c\":{\"d\":1,\"d\":2}}", "duplicate object key at byte 12"},
      {"{\"c\":{\"d\":1,\"d\":2},\"a\":1,\"a\":2}", "duplicate object key at byte 17"},
      {"[{\"a\":1,\"a\":2},{\"b\":}]", "duplicate object key at byte 13"},
      {"{\"a\":1,\"\\u0061\":2}", "duplicate object key at byte 17"},
      // The repeat only counts once its value is read.
      {"{\"a\":1,\"a\":{\"b\":}}", "invalid number at byte 16"},
      {"{\"a\":1,\"a\"}", "expected object colon at byte 10"},
      {"]", "invalid number at byte 0"},
      {"\x80", "invalid number at byte 0"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.text), c.error) << c.text;
}

TEST(JsonParse, NullOutputFailsAndErrorIsOptional) {
  std::string error;
  EXPECT_FALSE(ParseJson("1", nullptr, &error));
  EXPECT_EQ(error, "null output at byte 0");
  JsonValue value;
  EXPECT_FALSE(ParseJson("[", &value, nullptr));
  EXPECT_TRUE(ParseJson("  1  ", &value, nullptr));
  EXPECT_EQ(value, MakeJsonNumber(1));
}

TEST(JsonParse, NestingStopsAfterSixtyFiveContainers) {
  EXPECT_TRUE(Parse(Nested(65, "")).is_array());
  EXPECT_EQ(ErrorOf(Nested(65, "1")), "nesting limit exceeded at byte 65");
  EXPECT_EQ(ErrorOf(Nested(66, "")), "nesting limit exceeded at byte 65");
  std::string objects;
  for (int i = 0; i < 64; ++i) objects += "{\"k\":";
  EXPECT_TRUE(Parse(objects + "{}" + std::string(64, '}')).is_object());
  EXPECT_EQ(ErrorOf(objects + "{\"k\":1}" + std::string(64, '}')),
            "nesting limit exceeded at byte " + std::to_string(objects.size() + 5));
  // Far deeper input must fail cleanly, not exhaust the stack.
  EXPECT_EQ(ErrorOf(std::string(100000, '[')), "nesting limit exceeded at byte 65");
}

TEST(JsonParse, DecodesStringsAndEscapes) {
  EXPECT_EQ(Parse("\"\\ud83d\\ude00\"").string, "\xF0\x9F\x98\x80");
  EXPECT_EQ(Parse("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"").string, "\"\\/\b\f\n\r\t");
  EXPECT_EQ(Parse("\"a\\u0000b\"").string, std::string("a\0b", 3));
  EXPECT_EQ(Parse("\"\\u00e9\\u4e2D\"").string, "\xC3\xA9\xE4\xB8\xAD");
  EXPECT_EQ(Parse("\"中文\x7F\"").string, "中文\x7F");
  // A raw lead byte followed by an escaped continuation is still not one character.
  EXPECT_EQ(ErrorOf("\"\xC3\\u00a9\""), "invalid UTF-8 string at byte 9");
}

TEST(JsonParse, AgreesWithTheFullConversionOnRandomDecimals) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 200000; ++i) {
    // Mantissas around 2^53 and exponents around 10^22 sit on both sides of the fast path.
    const uint64_t mantissa = random() % (i % 3 == 0 ? 20000000000000000ULL : 100000000ULL);
    const int point = static_cast<int>(random() % 20);
    std::string text = std::to_string(mantissa);
    if (point > 0 && static_cast<size_t>(point) < text.size())
      text.insert(text.size() - point, ".");
    if (i % 4 == 0) text += "e" + std::to_string(static_cast<int>(random() % 60) - 30);
    if (i % 5 == 0) text = "-" + text;
    double expected = 0;
    std::from_chars(text.data(), text.data() + text.size(), expected);
    ASSERT_EQ(Parse(text).number, expected) << text;
  }
  // Mantissas of 17 to 19 digits, with exponents on both sides of 10^27.
  for (int i = 0; i < 200000; ++i) {
    const uint64_t mantissa = random() % 10000000000000000000ULL;
    std::string text =
        std::to_string(mantissa) + "e" + std::to_string(static_cast<int>(random() % 70) - 35);
    double expected = 0;
    std::from_chars(text.data(), text.data() + text.size(), expected);
    ASSERT_EQ(Parse(text).number, expected) << text;
  }
  EXPECT_TRUE(std::signbit(Parse("-0").number));
  EXPECT_EQ(Parse("9007199254740993").number, 9007199254740992.0);
  EXPECT_EQ(Parse("0.1e1").number, 1.0);
  EXPECT_EQ(Parse("1e22").number, 1e22);
  EXPECT_EQ(Parse("1e23").number, 1e23);
  EXPECT_EQ(Parse("123456789012345678901234567890e-30").number, 0.12345678901234568);
}

TEST(JsonParse, KeepsObjectsInByteOrderAndRejectsDuplicatesInLargeObjects) {
  const JsonValue value = Parse("{\"b\":1,\"ab\":2,\"a\":3,\"\xC3\xA9\":4,\"B\":5}");
  std::string keys;
  for (const auto& [key, member] : value.object) (keys += key) += ",";
  EXPECT_EQ(keys, "B,a,ab,b,\xC3\xA9,");
  // Keys that agree in their first eight bytes, a key and the same key with a NUL after it,
  // and escaped keys among plain ones.
  const JsonValue long_keys = Parse(
      "{\"abcdefghY\":1,\"abcdefgh\":2,\"abcdefghX\":3,\"a\\u0000\":4,\"a\":5,\"\\u0041\":6}");
  std::vector<std::string> order;
  for (const auto& [key, member] : long_keys.object) order.emplace_back(key);
  EXPECT_EQ(order, (std::vector<std::string>{"A", "a", std::string("a\0", 2), "abcdefgh",
                                             "abcdefghX", "abcdefghY"}));
  EXPECT_EQ(long_keys.object.Find(std::string("a\0", 2))->number, 4);

  std::string big = "{";
  for (int i = 0; i < 1000; ++i) big += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  EXPECT_EQ(Parse(big + "\"end\":0}").object.size(), 1001u);
  const std::string duplicate = big + "\"k500\":7}";
  EXPECT_EQ(ErrorOf(duplicate),
            "duplicate object key at byte " + std::to_string(duplicate.size() - 1));
}

TEST(JsonSerialize, WritesCompactSortedText) {
  const JsonValue value = Parse("{ \"b\" : 1 , \"a\" : [ true , null , \"\\u0001\" ] }");
  EXPECT_EQ(SerializeJson(value), "{\"a\":[true,null,\"\\u0001\"],\"b\":1}");
  EXPECT_EQ(SerializeJson(MakeJsonString("\"\\/\b\t\n\f\r\x1f\x7F中")),
            "\"\\\"\\\\/\\b\\t\\n\\f\\r\\u001f\x7F中\"");
  EXPECT_EQ(SerializeJson(MakeJsonArray({})), "[]");
  EXPECT_EQ(SerializeJson(MakeJsonObject({})), "{}");
}

TEST(JsonSerialize, WritesNumbersAsPrintfDoesWithSeventeenSignificantDigits) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> exponent(-12, 22);
  for (int i = 0; i < 200000; ++i) {
    double number;
    if (i % 2 == 0) {
      number = std::pow(10.0, exponent(random)) * ((random() & 1) ? 1 : -1);
    } else {
      const uint64_t bits = random();
      std::memcpy(&number, &bits, sizeof(number));
      if (!std::isfinite(number)) continue;
    }
    char expected[64];
    std::snprintf(expected, sizeof(expected), "%.17g", number);
    ASSERT_EQ(SerializeJson(MakeJsonNumber(number)), expected) << number;
  }
  // Ties and the neighbours of powers of ten, where rounding and the exponent guess are tested;
  // integers, -0 and the switch to exponents.
  for (double number : {3.0,
                        -42.0,
                        -0.0,
                        1e21,
                        9007199254740991.0,
                        1.5e-7,
                        0.5,
                        0.25,
                        0.125,
                        1e-5,
                        9.9999999999999991e-6,
                        1e-4,
                        0.001,
                        0.1,
                        1e16,
                        9999999999999998.0,
                        1e17,
                        99999999999999984.0,
                        123456789.125,
                        4503599627370496.5,
                        0.30000000000000004,
                        1.7976931348623157e308,
                        4.9406564584124654e-324,
                        2.2250738585072014e-308}) {
    char expected[64];
    std::snprintf(expected, sizeof(expected), "%.17g", number);
    EXPECT_EQ(SerializeJson(MakeJsonNumber(number)), expected);
  }
}

TEST(JsonSerialize, RoundTripsEveryKind) {
  const std::string text =
      "{\"arr\":[1,-2.5,1.0000000000000001e-300,\"x\\u0000y\",false,{}],\"nested\":{\"deep\":"
      "[[[]]]},\"s\":\"\\ud834\\udd1e\"}";
  const JsonValue first = Parse(text);
  const JsonValue second = Parse(SerializeJson(first));
  EXPECT_EQ(first, second);
  EXPECT_EQ(SerializeJson(second), SerializeJson(first));
}

TEST(JsonBuilders, NonFiniteNumbersBecomeNullAndMovesEmptyTheSource) {
  EXPECT_TRUE(MakeJsonNumber(INFINITY).is_null());
  EXPECT_TRUE(MakeJsonNumber(NAN).is_null());
  JsonValue by_hand;
  by_hand.kind = JsonKind::kNumber;
  by_hand.number = INFINITY;
  EXPECT_EQ(SerializeJson(MakeJsonArray({by_hand})), "[null]");
  JsonObject members{{"z", MakeJsonBool(true)}, {"a", MakeJsonString("x")}, {"z", JsonValue()}};
  JsonValue object = MakeJsonObject(std::move(members));
  EXPECT_EQ(SerializeJson(object), "{\"a\":\"x\",\"z\":true}");
  object.object["m"] = MakeJsonNumber(2);
  object.object.Set("a", MakeJsonNull());
  EXPECT_EQ(SerializeJson(object), "{\"a\":null,\"m\":2,\"z\":true}");
  JsonValue moved = std::move(object);
  EXPECT_TRUE(object.is_null());
  EXPECT_EQ(object, JsonValue());  // only the kind's own field may be read, and null has none
  EXPECT_EQ(moved.object.size(), 3u);
  JsonValue copy = moved;
  copy.object.Erase("m");
  EXPECT_EQ(moved.object.size(), 3u);

  JsonValue list = MakeJsonArray({MakeJsonString(std::string(40, 'x'))});
  for (int i = 0; i < 6; ++i) list.array.push_back(list.array.back());
  EXPECT_EQ(list.array.size(), 7u);
  EXPECT_EQ(list.array[6].string, std::string(40, 'x'));
}

TEST(JsonLookup, TreatsWrongKindsAndInexactNumbersAsAbsent) {
  const JsonValue value = Parse(
      "{\"i\":-3,\"f\":2.5,\"big\":1e19,\"min\":-9223372036854775808,\"top\":"
      "9223372036854775808,\"s\":\"text\",\"n\":null}");
  int64_t number = 0;
  EXPECT_TRUE(GetJsonInt64(value, "i", &number));
  EXPECT_EQ(number, -3);
  EXPECT_TRUE(GetJsonInt64(value, "min", &number));
  EXPECT_EQ(number, INT64_MIN);
  EXPECT_FALSE(GetJsonInt64(value, "f", &number));
  EXPECT_FALSE(GetJsonInt64(value, "big", &number));
  EXPECT_FALSE(GetJsonInt64(value, "top", &number));
  EXPECT_FALSE(GetJsonInt64(value, "s", &number));
  EXPECT_FALSE(GetJsonInt64(value, "missing", &number));
  std::string text;
  EXPECT_TRUE(GetJsonString(value, "s", &text));
  EXPECT_EQ(text, "text");
  EXPECT_FALSE(GetJsonString(value, "n", &text));
  EXPECT_EQ(FindJsonMember(value, "n")->kind, JsonKind::kNull);
  EXPECT_EQ(FindJsonMember(MakeJsonArray({}), "n"), nullptr);
}

TEST(JsonObject, AgreesWithAMapUnderRandomEdits) {
  // Keys of every length around the inline and eight-byte limits, some with NUL bytes, so that
  // blocks grow, members shift both ways and erased keys' bytes are packed away.
  std::mt19937 random(5);
  auto random_key = [&] {
    std::string key(random() % 20, 'k');
    for (char& c : key) c = static_cast<char>("ab\0z"[random() % 4]);
    return key;
  };
  JsonObject object;
  std::map<std::string, double> model;
  for (int step = 0; step < 5000; ++step) {
    const std::string key = random_key();
    const double number = step;
    switch (random() % 4) {
      case 0:
        object.Set(key, MakeJsonNumber(number));
        model[key] = number;
        break;
      case 1:
        ASSERT_EQ(object.Insert(key, MakeJsonNumber(number)), model.emplace(key, number).second);
        break;
      case 2:
        ASSERT_EQ(object.Erase(key), model.erase(key) == 1);
        break;
      case 3:
        object[key] = MakeJsonNumber(number);
        model[key] = number;
        break;
    }
    if (step % 97 != 0) continue;
    const JsonObject copy = object;  // a copy has keys of its own
    ASSERT_EQ(copy.size(), model.size());
    auto expected = model.begin();
    for (const auto& [key_view, member] : copy) {
      ASSERT_EQ(key_view, expected->first);
      ASSERT_EQ(member.number, expected->second);
      ++expected;
    }
    ASSERT_EQ(copy, object);
  }
  for (const auto& [key, number] : model) ASSERT_EQ(object.Find(key)->number, number);
}

TEST(JsonValue, StringsOnBothSidesOfTheInlineLimitAndMovesOutOfTheirOwnTree) {
  for (size_t length = 0; length <= 20; ++length) {
    std::string text(length, 'x');
    if (length > 2) text[1] = '\0';
    JsonValue value = MakeJsonString(text);
    ASSERT_EQ(value.string.size(), length);
    ASSERT_EQ(value.string, text);
    JsonValue copy = value;
    JsonValue moved = std::move(value);
    ASSERT_TRUE(value.is_null());
    ASSERT_EQ(copy, moved);
    ASSERT_EQ(Parse(SerializeJson(moved)), copy);
    copy.string = copy.string.view().substr(length / 2);  // from its own bytes
    ASSERT_EQ(copy.string, text.substr(length / 2));
  }
  // A value may take the place of the tree that holds it.
  JsonValue tree = Parse("[{\"k\":[\"a long string value\"]}]");
  tree = std::move(tree.array[0]);
  tree = std::move(tree.object["k"]);
  tree = std::move(tree.array[0]);
  EXPECT_EQ(tree.string, "a long string value");
}

TEST(JsonValue, DocumentsParsedInOneThreadAreFreedInAnother) {
  // Freed blocks are kept per thread for reuse; documents cross threads in both directions.
  std::string text = "[";
  for (int i = 0; i < 2000; ++i) {
    text +=
        "{\"name\":\"item number " + std::to_string(i) + "\",\"tags\":[\"x\",\"long tag text\"]},";
  }
  text += "{}]";
  const JsonValue expected = Parse(text);
  std::vector<JsonValue> parsed(4);
  std::vector<std::thread> threads;
  for (JsonValue& value : parsed) {
    threads.emplace_back([&text, &value] { ParseJson(text, &value, nullptr); });
  }
  for (std::thread& thread : threads) thread.join();
  threads.clear();
  for (JsonValue& value : parsed) {
    EXPECT_EQ(value, expected);
    threads.emplace_back([taken = std::move(value)]() mutable { taken = JsonValue(); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(Parse(text), expected);
}

// Strict UTF-8 one byte at a time, as the rules read: the yardstick for the word-wise validator.
bool ReferenceUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    size_t length;
    uint32_t code;
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000)) return false;
    if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
    i += length;
  }
  return true;
}

TEST(JsonUtf8, AgreesWithAByteByByteReferenceOnRandomBytes) {
  // Mostly well-formed characters with one byte changed now and then, so that every check of
  // every sequence length is reached, at every distance from the end.
  std::mt19937 random(3);
  const uint32_t code_points[] = {0x41,   0x7F,   0x80,    0x7FF,    0x800,  0xD7FF,
                                  0xE000, 0xFFFF, 0x10000, 0x10FFFF, 0x4E2D, 0x1F600};
  int invalid = 0;
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    const int characters = static_cast<int>(random() % 12);
    for (int k = 0; k < characters; ++k) {
      AppendUtf8(code_points[random() % std::size(code_points)], &text);
    }
    if (!text.empty() && random() % 2 == 0) {
      text[random() % text.size()] = static_cast<char>(random() % 256);
    }
    const bool expected = ReferenceUtf8(text);
    invalid += expected ? 0 : 1;
    ASSERT_EQ(IsValidUtf8(text), expected) << ::testing::PrintToString(text);
  }
  EXPECT_GT(invalid, 10000);
  // The edges of every sequence length, valid and not.
  EXPECT_TRUE(
      IsValidUtf8("\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80"
                  "\xF4\x8F\xBF\xBF plain ascii text longer than eight bytes"));
  for (const char* text :
       {"\x80", "\xC1\xBF", "\xC2", "\xC2\x41", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "abcdefgh\xE4\xB8"}) {
    EXPECT_FALSE(IsValidUtf8(text)) << ::testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace kavi::win::server
