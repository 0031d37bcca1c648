// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <fstream>

#include "platform/signature/detached_signature.h"
#include "tests/common/temp_dir.h"
#include "tests/voice/test_signers.h"
#include "voice/helper_signature.h"

namespace kavi::win::testing {
namespace {

class SignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.path() / "kavi-voice-ggml";
    WriteFile(program_, "#!/bin/sh\necho READY\n");
  }
  std::filesystem::path Signature() const { return program_.string() + kSignatureSuffix; }
  void Sign(const SignerFiles& signer) {
    std::string error;
    ASSERT_TRUE(SignDetached(program_, signer.certificate, signer.key, Signature(), &error))
        << error;
  }
  // The helper check against the shipped anchors and the user's anchor file.
  bool Verify() {
    return VerifyHelperSignature(program_, {ShippedAnchors(), dir_.path() / "user-anchors.pem"},
                                 &error_);
  }

  TempDir dir_;
  std::filesystem::path program_;
  std::string error_;
};

TEST_F(SignatureTest, TheProjectTestKeyIsTrustedByTheShippedAnchors) {
  Sign(ProjectTestSigner());
  EXPECT_TRUE(Verify()) << error_;
  EXPECT_TRUE(error_.empty());
  const SignatureCheck check = VerifyDetachedSignature(program_, Signature(), {ShippedAnchors()});
  EXPECT_EQ(check.outcome, SignatureCheck::Outcome::kValid);
  EXPECT_EQ(check.signer_common_name, "Norvale Inc.");
}

TEST_F(SignatureTest, AChangedByteOrAMissingOrBrokenSignatureIsRefused) {
  Sign(ProjectTestSigner());
  WriteFile(program_, "#!/bin/sh\necho READY \n");
  EXPECT_FALSE(Verify());
  EXPECT_EQ(error_.rfind(kSignatureChainMessage, 0), 0u) << error_;
  // The code is the negated reason of the failed content check.
  EXPECT_EQ(error_.substr(std::string(kSignatureChainMessage).size(), 1), "-") << error_;

  WriteFile(Signature(), "not a signature");
  EXPECT_FALSE(Verify());
  EXPECT_EQ(error_, kSignerUnreadableMessage);
  std::filesystem::remove(Signature());
  EXPECT_FALSE(Verify());
  EXPECT_EQ(error_, kSignerUnreadableMessage);
}

TEST_F(SignatureTest, TheSignerMustBeTrustedCurrentNamedAndAllowedToSignCode) {
  struct Case {
    const char* name;
    SignerOptions options;
    const char* expected;  // a message, or a chain message prefix and code
  } cases[] = {
      {"untrusted self-signed", {}, "helper Authenticode 簽名鏈驗證失敗：18"},
      {"expired", {"Norvale Inc.", true, -7200, -3600}, "helper Authenticode 簽名鏈驗證失敗：18"},
      {"another name", {"Norvale Inc", true}, "helper Authenticode 簽名鏈驗證失敗：18"},
  };
  for (const Case& c : cases) {
    Sign(MakeSigner(dir_.path(), "self", c.options));
    EXPECT_FALSE(Verify()) << c.name;
    EXPECT_EQ(error_, c.expected) << c.name;
  }

  // The user's anchor file adds a CA of their own; what it issues is then checked in full.
  const SignerFiles ca = MakeSigner(dir_.path(), "ca", {"User CA"}, nullptr, true);
  std::filesystem::copy_file(ca.certificate, dir_.path() / "user-anchors.pem");
  struct Issued {
    const char* name;
    SignerOptions options;
    std::string expected;
  } issued[] = {
      {"trusted", {}, ""},
      {"another name", {"Norvale Inc.x"}, kSignerNameMessage},
      {"not for code", {"Norvale Inc.", false}, "helper Authenticode 簽名鏈驗證失敗：26"},
      {"expired", {"Norvale Inc.", true, -7200, -3600}, "helper Authenticode 簽名鏈驗證失敗：10"},
      {"not yet valid", {"Norvale Inc.", true, 3600, 7200}, "helper Authenticode 簽名鏈驗證失敗：9"},
  };
  for (const Issued& c : issued) {
    Sign(MakeSigner(dir_.path(), "leaf", c.options, &ca));
    EXPECT_EQ(Verify(), c.expected.empty()) << c.name;
    EXPECT_EQ(error_, c.expected) << c.name;
  }
  // Without the user's file the same signer is unknown.
  std::filesystem::remove(dir_.path() / "user-anchors.pem");
  Sign(MakeSigner(dir_.path(), "leaf", {}, &ca));
  EXPECT_FALSE(Verify());
  EXPECT_EQ(error_, "helper Authenticode 簽名鏈驗證失敗：20");
}

}  // namespace
}  // namespace kavi::win::testing
