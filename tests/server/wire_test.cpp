// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/pipe_records.h"

namespace kavi::win {
namespace {

bool EndsInsideCharacter(std::string_view s, std::string_view original) {
  // A cut ends inside a character when the next original byte is a continuation byte.
  return s.size() < original.size() &&
         (static_cast<unsigned char>(original[s.size()]) & 0xC0) == 0x80;
}

TEST(WireTextField, CutsOnCharacterBoundaries) {
  std::string preedit;
  while (preedit.size() < 600) preedit += "中";  // three bytes each
  PipeResponse reply{};
  CopyTextField(reply.preedit, preedit);
  std::string_view got = TextFieldView(reply.preedit);
  EXPECT_EQ(got.size(), 510u);
  EXPECT_FALSE(EndsInsideCharacter(got, preedit));
  EXPECT_EQ(reply.preedit[510], 0);
  EXPECT_EQ(reply.preedit[511], 0);

  std::string comment = "a";
  while (comment.size() < 200) comment += "é";  // two bytes each, shifted by one
  CopyTextField(reply.candidates[0].comment, comment);
  got = TextFieldView(reply.candidates[0].comment);
  EXPECT_EQ(got.size(), 127u);
  EXPECT_FALSE(EndsInsideCharacter(got, comment));

  std::string four = "x😀😀😀";  // 1 + 4*3 bytes, cut into an 8-byte field keeps "x😀"
  char small[8];
  std::memset(small, 'z', sizeof small);
  CopyTextField(small, four);
  EXPECT_EQ(TextFieldView(small), "x😀");
  for (size_t i = 5; i < sizeof small; ++i) EXPECT_EQ(small[i], 0) << i;
}

TEST(WireTextField, ShortTextAndFullFieldWithoutTerminator) {
  char field[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(TextFieldView(field), "abcd");
  CopyTextField(field, "");
  EXPECT_EQ(TextFieldView(field), "");
  CopyTextField(field, "abc");
  EXPECT_EQ(TextFieldView(field), "abc");
  CopyTextField(field, "abcd");
  EXPECT_EQ(TextFieldView(field), "abc");
}

TEST(WireReplies, SimpleReplyCopiesTheHeaderAndSetsTheTail) {
  PipeRequest request = MakeRequest(RequestKind::KeyEvent);
  request.sequence = 0x1122334455667788ULL;
  request.context_id = 42;
  request.process_id = 7;
  request.thread_id = 8;
  request.session_nonce = 99;
  request.architecture = 2;
  request.key_code = 'a';
  PipeResponse reply = MakeSimpleReply(request, ReplyKind::Ok, true);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&reply);
  EXPECT_EQ(std::memcmp(bytes, "AKVI", 4), 0);
  EXPECT_EQ(+reply.kind, 101);
  EXPECT_EQ(+reply.size, 11355u);
  EXPECT_EQ(+reply.sequence, +request.sequence);
  EXPECT_EQ(+reply.session_nonce, 99u);
  EXPECT_EQ(reply.result, 1);
  EXPECT_EQ(reply.tail_flag, 1);
  // Byte 44 onwards is the reply's own: the request's architecture must not leak into result.
  for (size_t i = 45; i < kResponseSize - 1; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

}  // namespace
}  // namespace kavi::win
