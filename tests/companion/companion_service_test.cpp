// SPDX-License-Identifier: Apache-2.0
// kavi-companion's parts: RFC 6238 codes against the RFC's own test vectors, otpauth:// URIs, the
// passphrase vault, the policies, and what the service refuses.
#include <gtest/gtest.h>

#include <fstream>

#include "companion/gk_client.h"
#include "companion/gk_connection.h"
#include "companion/gk_refresh.h"
#include "companion/gk_websocket.h"
#include "companion/gks_envelope.h"
#include "companion/pack_codec.h"
#include "service/companion_config.h"
#include "service/totp.h"
#include "tests/companion/companion_fixture.h"

namespace kavi::service {
namespace {

using win::testing::ClientStore;
using win::testing::InProcessCompanion;
using win::testing::TempDir;

TEST(Totp, Rfc6238TestVectors) {
  // RFC 6238, appendix B: 8 digits, 30-second steps, the seeds of each hash's length.
  const std::string sha1_key = "12345678901234567890";
  const std::string sha256_key = "12345678901234567890123456789012";
  const std::string sha512_key = "1234567890123456789012345678901234567890123456789012345678901234";
  struct Vector {
    int64_t time;
    const char* sha1;
    const char* sha256;
    const char* sha512;
  };
  const Vector vectors[] = {
      {59, "94287082", "46119246", "90693936"},
      {1111111109, "07081804", "68084774", "25091201"},
      {1111111111, "14050471", "67062674", "99943326"},
      {1234567890, "89005924", "91819424", "93441116"},
      {2000000000, "69279037", "90698825", "38618901"},
      {20000000000, "65353130", "77737706", "47863826"},
  };
  for (const Vector& v : vectors) {
    EXPECT_EQ(TotpCode({sha1_key, TotpAlgorithm::kSha1, 8, 30}, v.time), v.sha1) << v.time;
    EXPECT_EQ(TotpCode({sha256_key, TotpAlgorithm::kSha256, 8, 30}, v.time), v.sha256) << v.time;
    EXPECT_EQ(TotpCode({sha512_key, TotpAlgorithm::kSha512, 8, 30}, v.time), v.sha512) << v.time;
  }
  // Six digits are the last six of the same truncation.
  EXPECT_EQ(TotpCode({sha1_key, TotpAlgorithm::kSha1, 6, 30}, 59), "287082");
}

TEST(Totp, OtpAuthUris) {
  OtpAuthEntry entry;
  std::string error;
  ASSERT_TRUE(ParseOtpAuthUri(
      "otpauth://totp/ACME%20Co:john.doe%40email.com?secret=HXDMVJECJJWSRB3HWIZR4IFUGFTMXBOZ"
      "&issuer=ACME%20Co&algorithm=SHA256&digits=8&period=60",
      &entry, &error))
      << error;
  EXPECT_EQ(entry.issuer, "ACME Co");
  EXPECT_EQ(entry.account, "john.doe@email.com");
  EXPECT_EQ(entry.secret.algorithm, TotpAlgorithm::kSha256);
  EXPECT_EQ(entry.secret.digits, 8);
  EXPECT_EQ(entry.secret.period, 60);
  EXPECT_EQ(entry.secret.key.size(), 20u);
  ASSERT_TRUE(
      ParseOtpAuthUri("OTPAUTH://TOTP/alice?secret=jbsw%20y3dpehpk3pxp====", &entry, &error));
  EXPECT_EQ(entry.secret.key, "Hello!\xde\xad\xbe\xef");
  EXPECT_EQ(entry.account, "alice");
  EXPECT_EQ(entry.secret.digits, 6);

  const std::pair<const char*, const char*> refused[] = {
      {"https://totp/x?secret=JBSWY3DP", "not an otpauth:// URI"},
      {"otpauth://hotp/x?secret=JBSWY3DP&counter=1", "only TOTP entries are supported"},
      {"otpauth://totp/x?issuer=a", "otpauth URI has no secret"},
      {"otpauth://totp/x?secret=JBSW1", "otpauth secret is not base32"},
      {"otpauth://totp/x?secret=JBSWY3DP&digits=9", "otpauth digits must be 6 to 8"},
      {"otpauth://totp/x?secret=JBSWY3DP&period=0", "otpauth period must be 1 to 3600 seconds"},
      {"otpauth://totp/x?secret=JBSWY3DP&algorithm=MD5",
       "otpauth algorithm must be SHA1, SHA256 or SHA512"},
      {"otpauth://totp/x%2?secret=JBSWY3DP", "otpauth URI has an invalid escape"},
  };
  for (const auto& [uri, message] : refused) {
    EXPECT_FALSE(ParseOtpAuthUri(uri, &entry, &error)) << uri;
    EXPECT_EQ(error, message) << uri;
  }
}

TEST(CompanionVault, OpensOnlyWithItsPassphrase) {
  TempDir dir;
  VaultContents contents;
  std::string error;
  ASSERT_TRUE(CompanionVault::Fresh("me", &contents, &error));
  OtpAuthEntry parsed;
  ASSERT_TRUE(ParseOtpAuthUri("otpauth://totp/A:b?secret=JBSWY3DPEHPK3PXP", &parsed, &error));
  contents.entries.push_back({"e1", "A", "b", parsed.secret, 17});
  {
    CompanionVault vault;
    ASSERT_TRUE(vault.Create(dir.path() / "v" / "vault.bin", "right", KdfStrength::kInteractive,
                             contents, &error))
        << error;
  }
  const std::string bytes = [&] {
    std::ifstream in(dir.path() / "v" / "vault.bin", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }();
  EXPECT_EQ(bytes.find(parsed.secret.key), std::string::npos);
  CompanionVault wrong;
  EXPECT_FALSE(wrong.Open(dir.path() / "v" / "vault.bin", "wrong", &error));
  EXPECT_EQ(error, "wrong passphrase");
  CompanionVault vault;
  ASSERT_TRUE(vault.Open(dir.path() / "v" / "vault.bin", "right", &error)) << error;
  ASSERT_EQ(vault.contents().entries.size(), 1u);
  EXPECT_EQ(vault.contents().entries[0].secret.key, parsed.secret.key);
  EXPECT_EQ(vault.contents().account_key, contents.account_key);
  EXPECT_EQ(vault.contents().service_sign.secret_key, contents.service_sign.secret_key);
}

TEST(CompanionConfig, PoliciesAndRequiredMembers) {
  CompanionConfig config;
  std::string error;
  ASSERT_TRUE(ParseCompanionConfig(
      R"({"certificate": "c.pem", "private_key": "k.pem", "vault": "v.bin",
          "admin_token": "t", "code_policy": "approve_local", "port": 0})",
      "/etc/kc", &config, &error))
      << error;
  EXPECT_EQ(config.code_policy, ApprovalPolicy::kApproveLocal);
  EXPECT_EQ(config.pairing_policy, ApprovalPolicy::kAsk);
  EXPECT_EQ(config.vault, "/etc/kc/v.bin");
  EXPECT_FALSE(ParseCompanionConfig(R"({"certificate": "c"})", "/", &config, &error));
  EXPECT_FALSE(ParseCompanionConfig(
      R"({"certificate": "c", "private_key": "k", "vault": "v", "admin_token": "t",
          "pairing_policy": "always"})",
      "/", &config, &error));
  EXPECT_EQ(error, R"("pairing_policy" must be "ask", "approve_local" or "deny")");
}

TEST(CompanionService, PoliciesApproveFromThisMachineWithoutAsking) {
  CompanionConfig config;
  config.pairing_policy = ApprovalPolicy::kApproveLocal;
  config.code_policy = ApprovalPolicy::kApproveLocal;
  InProcessCompanion companion(config);
  ASSERT_EQ(companion.Admin("/admin/add", "otpauth://totp/A:b?secret=JBSWY3DPEHPK3PXP").status,
            200u);
  ClientStore store;
  win::GKClient client(store.Store(), companion.Source());
  win::GkRefreshThread refresh(&client);
  std::string pairing_id, error, code;
  ASSERT_TRUE(client.StartPairing("Kavi", &pairing_id, &error)) << error;
  ASSERT_TRUE(client.WaitForPairing(std::chrono::seconds(20), &error)) << error;
  ASSERT_TRUE(client.RequestTotp("e1", &code, &error, nullptr)) << error;
  EXPECT_EQ(code.size(), 6u);
}

TEST(CompanionService, RefusesWhatItCannotTrust) {
  InProcessCompanion companion;
  // Not an app registration.
  EXPECT_EQ(companion
                .Admin("/v3/handshake",
                       win::PackEncode(win::PackValue::Map({{"ap", win::PackValue::Bool(true)}})))
                .status,
            400u);

  // A sealed request from an app the companion never paired.
  win::SignKeyPair sign;
  win::BoxKeyPair box;
  std::string error, sealed;
  win::GenerateSignKeyPair(&sign, &error);
  win::GenerateBoxKeyPair(&box, &error);
  const win::GkEndpoints endpoints = companion.Endpoints();
  ASSERT_TRUE(win::SealRequest("app.stranger", "0.5.1", "file_list", win::PackValue::Map(), sign,
                               box, endpoints.service_keys, 1700000000, &sealed, &error));
  EXPECT_EQ(companion.Admin("/v3/", sealed).status, 403u);

  // The command line's paths want the token, from this machine.
  HttpRequestIn admin;
  admin.method = "GET";
  admin.path = "/admin/state";
  admin.peer = "127.0.0.1";
  admin.headers = {{"Authorization", "Bearer wrong"}};
  EXPECT_EQ(companion.Send(admin).status, 403u);
  admin.headers = {{"Authorization", std::string("Bearer ") + win::testing::kAdminToken}};
  EXPECT_EQ(companion.Send(admin).status, 200u);
  admin.peer = "192.0.2.7";
  EXPECT_EQ(companion.Send(admin).status, 403u);
  EXPECT_EQ(companion.Admin("/admin/approve", "pair-404").status, 404u);

  // A WebSocket whose signature does not hold.
  win::GkWebSocketOptions options;
  options.host = "127.0.0.1";
  options.port = companion.port();
  options.extra_ca_bundle = companion.certificates().ca;
  std::string path;
  ASSERT_TRUE(win::SignedWebSocketPath("app.stranger", sign.secret_key, 1700000000, &path, &error));
  for (const auto& [target, message] :
       {std::pair<std::string, std::string>{path, "GK WebSocket HTTP 401"},
        {"/v3/ws?sig=%%%", "GK WebSocket HTTP 400"}}) {
    win::GkWebSocket socket;
    options.target = target;
    EXPECT_FALSE(socket.Connect(options, &error));
    EXPECT_EQ(error, message);
  }
}

}  // namespace
}  // namespace kavi::service
