#include "config/json.h"
#include "text/utf8.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

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

TEST(JsonParse, ReadsNumbersExactly) {
  EXPECT_EQ(Parse("-0").number, 0);
  EXPECT_TRUE(std::signbit(Parse("-0").number));
  EXPECT_EQ(Parse("123456789012345").number, 123456789012345.0);
  EXPECT_EQ(Parse("9007199254740993").number, 9007199254740992.0);
  EXPECT_EQ(Parse("0.1").number, 0.1);
  EXPECT_EQ(Parse("-2.5E-3").number, -0.0025);
  EXPECT_EQ(Parse("1e308").number, 1e308);
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

TEST(JsonSerialize, WritesNumbersWithSeventeenSignificantDigits) {
  const std::pair<double, const char*> cases[] = {
      {3, "3"},
      {0.5, "0.5"},
      {0.1, "0.10000000000000001"},
      {1e21, "1e+21"},
      {-0.0, "-0"},
      {-42, "-42"},
      {1e17, "1e+17"},
      {9007199254740991.0, "9007199254740991"},
      {1.5e-7, "1.4999999999999999e-07"},
  };
  for (const auto& [number, text] : cases) {
    EXPECT_EQ(SerializeJson(MakeJsonNumber(number)), text);
    char printf_text[64];
    std::snprintf(printf_text, sizeof(printf_text), "%.17g", number);
    EXPECT_EQ(SerializeJson(MakeJsonNumber(number)), printf_text);
  }
}

TEST(JsonSerialize, MatchesPrintfOnRandomDoubles) {
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
  // Ties and the neighbours of powers of ten, where rounding and the exponent guess are tested.
  for (double number :
       {0.5, 0.25, 0.125, 1e-5, 9.9999999999999991e-6, 1e-4, 0.001, 0.1, 1e16, 9999999999999998.0,
        1e17, 99999999999999984.0, 123456789.125, 4503599627370496.5, 0.30000000000000004,
        1.7976931348623157e308, 4.9406564584124654e-324, 2.2250738585072014e-308}) {
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
  EXPECT_TRUE(object.object.empty());
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

TEST(JsonUtf8, AcceptsOnlyStrictUtf8) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain ascii text longer than eight bytes"));
  EXPECT_TRUE(
      IsValidUtf8("\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80"
                  "\xF4\x8F\xBF\xBF"));
  const char* invalid[] = {"\x80",
                           "\xC1\xBF",
                           "\xC2",
                           "\xC2\x41",
                           "\xE0\x9F\xBF",
                           "\xED\xA0\x80",
                           "\xF0\x8F\xBF\xBF",
                           "\xF4\x90\x80\x80",
                           "\xF5\x80\x80\x80",
                           "\xFF",
                           "abcdefgh\xE4\xB8"};
  for (const char* text : invalid) EXPECT_FALSE(IsValidUtf8(text)) << text;
}

}  // namespace
}  // namespace kavi::win::server
