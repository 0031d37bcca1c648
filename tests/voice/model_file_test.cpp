// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "tests/common/temp_dir.h"
#include "tools/voice-ggml/gguf_file.h"
#include "tools/voice-ggml/pocketsphinx_model.h"

namespace kavi::win::testing {
namespace {

std::string TwoTensorFile() {
  GgufWriter writer;
  writer.AddString(kGgufArchitectureKey, "pocketsphinx");
  writer.AddString("pocketsphinx.language", "en-us");
  writer.AddByteTensor("a", "first tensor");
  writer.AddByteTensor("b", std::string(100, '\x7f'));
  return writer.Finish();
}

TEST(GgufFileTest, WrittenFilesReadBack) {
  const std::string file = TwoTensorFile();
  GgufIndex index;
  std::string error;
  ASSERT_TRUE(ParseGguf(file, &index, &error)) << error;
  EXPECT_EQ(index.String(kGgufArchitectureKey), "pocketsphinx");
  EXPECT_EQ(index.integers.at(kGgufAlignmentKey), kGgufDefaultAlignment);
  ASSERT_EQ(index.tensors.size(), 2u);
  for (const GgufTensor& tensor : index.tensors) {
    EXPECT_EQ(tensor.offset % kGgufDefaultAlignment, 0u);
    EXPECT_EQ(tensor.type, kGgmlTypeI8);
  }
  EXPECT_EQ(file.substr(index.Find("a")->offset, index.Find("a")->bytes), "first tensor");
  EXPECT_EQ(file.substr(index.Find("b")->offset, index.Find("b")->bytes), std::string(100, '\x7f'));
  EXPECT_EQ(index.Find("c"), nullptr);
}

TEST(GgufFileTest, BrokenFilesAreRefused) {
  const std::string good = TwoTensorFile();
  GgufIndex index;
  std::string error;
  ASSERT_TRUE(ParseGguf(good, &index, &error));
  const size_t end = index.Find("b")->offset + index.Find("b")->bytes;
  // Every cut before the end of the last tensor leaves it (or the header) outside the file.
  for (size_t cut = 0; cut < end; cut += 7) {
    EXPECT_FALSE(ParseGguf(good.substr(0, cut), &index, &error)) << cut;
    EXPECT_FALSE(error.empty());
  }
  std::string version2 = good;
  version2[4] = 2;
  EXPECT_FALSE(ParseGguf(version2, &index, &error));
  EXPECT_EQ(error, "not a GGUF version 3 file");
  std::string magic = good;
  magic[0] = 'X';
  EXPECT_FALSE(ParseGguf(magic, &index, &error));
  EXPECT_EQ(error, "not a GGUF file");
  std::string huge_count = good;
  huge_count[15] = 0x7f;  // the tensor count's top byte
  EXPECT_FALSE(ParseGguf(huge_count, &index, &error));
  // An alignment that is not a power of two.
  std::string odd = good;
  const size_t alignment = odd.find("general.alignment") + 17 + 4;
  odd[alignment] = 33;
  EXPECT_FALSE(ParseGguf(odd, &index, &error));
  EXPECT_EQ(error, "invalid GGUF alignment");
}

TEST(PocketsphinxModelTest, PacksTheDebianLayoutAndNamesWhatIsMissing) {
  TempDir dir;
  for (const PocketsphinxPart& part : kPocketsphinxParts)
    if (part.required) WriteFile(dir.path() / part.source, std::string("bytes of ") + part.tensor);
  std::string file, error;
  ASSERT_TRUE(PackPocketsphinxModel(dir.path(), "en-us", &file, &error)) << error;
  GgufIndex index;
  ASSERT_TRUE(ParseGguf(file, &index, &error)) << error;
  EXPECT_EQ(index.String(kGgufArchitectureKey), kPocketsphinxArchitecture);
  EXPECT_EQ(index.String(kPocketsphinxLanguageKey), "en-us");
  const GgufTensor* lm = index.Find("pocketsphinx.lm");
  ASSERT_NE(lm, nullptr);
  EXPECT_EQ(file.substr(lm->offset, lm->bytes), "bytes of pocketsphinx.lm");
  EXPECT_EQ(index.Find("pocketsphinx.hmm.mixture_weights"), nullptr);  // optional, absent

  std::filesystem::remove(dir.path() / "cmudict-en-us.dict");
  EXPECT_FALSE(PackPocketsphinxModel(dir.path(), "en-us", &file, &error));
  EXPECT_NE(error.find("cmudict-en-us.dict"), std::string::npos) << error;
}

}  // namespace
}  // namespace kavi::win::testing
