// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "protocol/pipe_records.h"
#include "server/session/candidate_list.h"
#include "server/session/stroke_keys.h"

namespace kavi::win {
namespace {

std::vector<CandidateEntry> Page(std::initializer_list<const char*> texts, int32_t start = 0) {
  std::vector<CandidateEntry> out;
  for (const char* t : texts)
    out.push_back({t, "", false, start + static_cast<int32_t>(out.size())});
  return out;
}

std::string Texts(const std::vector<CandidateEntry>& list) {
  std::string s;
  for (const auto& e : list) s += e.text + (e.cloud ? "*" : "") + "|";
  return s;
}

TEST(CloudMerge, EqualToTheFirstOrSecondOrEmptyChangesNothing) {
  auto list = Page({"甲", "乙", "丙"});
  MergeCloudCandidate(&list, "");
  MergeCloudCandidate(&list, "甲");
  MergeCloudCandidate(&list, "乙");
  EXPECT_EQ(Texts(list), "甲|乙|丙|");
}

TEST(CloudMerge, LaterDuplicateMovesUpInsertGoesSecondOrFirst) {
  auto list = Page({"甲", "乙", "丙", "丁"}, 10);
  MergeCloudCandidate(&list, "丁");
  EXPECT_EQ(Texts(list), "甲|丁|乙|丙|");
  EXPECT_EQ(list[1].comment, kCloudComment);
  EXPECT_EQ(list[1].engine_index, 13);
  EXPECT_EQ(PositionOfEngineIndex(list, 11), 2);
  EXPECT_TRUE(ListDiffersFromEnginePage(list, 10));

  auto fresh = Page({"甲"});
  MergeCloudCandidate(&fresh, "雲");
  EXPECT_EQ(Texts(fresh), "甲|雲*|");
  EXPECT_EQ(PositionOfEngineIndex(fresh, -1), -1);  // the cloud entry has no engine index

  std::vector<CandidateEntry> empty;
  MergeCloudCandidate(&empty, "雲");
  EXPECT_EQ(Texts(empty), "雲*|");
  EXPECT_FALSE(ListDiffersFromEnginePage(Page({"甲", "乙"}, 5), 5));
}

TEST(StrokeKeys, CustomLayoutMapsSwallowsAndPasses) {
  const std::string layout = "qwert";
  EXPECT_EQ(MapStrokeKey('q', 0, layout, "").key, static_cast<uint32_t>('h'));
  EXPECT_EQ(MapStrokeKey('T', 0, layout, "").key, static_cast<uint32_t>('z'));
  EXPECT_TRUE(MapStrokeKey('h', 0, layout, "").consumed);  // a stroke letter not in the layout
  EXPECT_TRUE(MapStrokeKey('i', 0, layout, "").consumed);
  EXPECT_FALSE(MapStrokeKey('x', 0, layout, "").consumed);  // not a stroke letter
  EXPECT_EQ(MapStrokeKey('x', 0, layout, "").key, static_cast<uint32_t>('x'));
  EXPECT_TRUE(MapStrokeKey(keys::kKeypad1 + 4, 0, layout, "").consumed);
  // A release still maps; Control does not; a backtick command is left alone.
  EXPECT_EQ(MapStrokeKey('w', keys::kReleaseMask, layout, "").key, static_cast<uint32_t>('s'));
  EXPECT_EQ(MapStrokeKey('w', keys::kControlMask, layout, "").key, static_cast<uint32_t>('w'));
  EXPECT_EQ(MapStrokeKey('w', 0, layout, "`rq").key, static_cast<uint32_t>('w'));
}

}  // namespace
}  // namespace kavi::win
