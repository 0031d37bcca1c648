// SPDX-License-Identifier: Apache-2.0
// GKClient against a real companion service on loopback: pairing through the temporary
// WebSocket, the identity that survives a restart, the 2FA list, codes with their approvals,
// denials, time-outs and cancellation, and the session that changes under a request. (The
// WebSocket that comes back after a cut is the end-to-end test's, with the real programs.)
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>

#include "companion/gk_connection.h"
#include "companion/gk_refresh.h"
#include "companion/pack_codec.h"
#include "companion/two_factor_list.h"
#include "service/totp.h"
#include "tests/companion/companion_fixture.h"

namespace kavi::win {
namespace {

using testing::ClientStore;
using testing::InProcessCompanion;

constexpr char kGithubUri[] =
    "otpauth://totp/"
    "GitHub:alice%40example.org?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&issuer=GitHub";

GkTiming QuickTiming() {
  GkTiming timing;
  timing.reconnect_wait = std::chrono::milliseconds(200);
  timing.totp_attempts = 4;
  timing.totp_interval = std::chrono::milliseconds(100);
  return timing;
}

// A client with its refresh thread, paired with the companion.
struct PairedClient {
  PairedClient(InProcessCompanion& companion, const ClientStore& store)
      : client(store.Store(), companion.Source(), QuickTiming()), refresh(&client) {
    std::string pairing_id, error;
    EXPECT_TRUE(client.StartPairing("Kavi test", &pairing_id, &error)) << error;
    EXPECT_FALSE(pairing_id.empty());
    const std::string request = companion.WaitForPending();
    EXPECT_EQ(companion.Admin("/admin/approve", request).status, 200u);
    EXPECT_TRUE(client.WaitForPairing(std::chrono::seconds(20), &error)) << error;
  }
  GKClient client;
  GkRefreshThread refresh;
};

std::string CurrentCode(int64_t at) {
  service::OtpAuthEntry entry;
  std::string error;
  service::ParseOtpAuthUri(kGithubUri, &entry, &error);
  return service::TotpCode(entry.secret, at);
}

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(GkConnection, IdsAndTheSignedPath) {
  struct Case {
    const char* app_id;
    bool valid;
    const char* connection_id;
  };
  for (const Case& c : std::vector<Case>{{"abc", true, "app.abc"},
                                         {"app.abc", true, "app.abc"},
                                         {"app.", false, ""},
                                         {"tmp.abc", false, ""},
                                         {"a.b", false, ""},
                                         {"", false, ""}}) {
    std::string id;
    EXPECT_EQ(ConnectionIdFromAppId(c.app_id, &id), c.valid) << c.app_id;
    EXPECT_EQ(id, c.connection_id);
  }
  for (std::string bytes : {"", "f", "fo", "foo", "\xff\xfe\x00\x01"}) {
    const std::string text = Base64Url(bytes);
    EXPECT_EQ(text.find_first_of("+/=\n"), std::string::npos);
    std::string back;
    ASSERT_TRUE(DecodeBase64Url(text, &back));
    EXPECT_EQ(back, bytes);
  }
  SignKeyPair keys;
  std::string path, error, signed_message;
  ASSERT_TRUE(GenerateSignKeyPair(&keys, &error));
  ASSERT_TRUE(SignedWebSocketPath("tmp.x1", keys.secret_key, 1700000000, &path, &error));
  ASSERT_TRUE(path.starts_with("/v3/ws?sig="));
  ASSERT_TRUE(DecodeBase64Url(path.substr(11), &signed_message));
  EXPECT_TRUE(VerifySigned(signed_message, keys.public_key, "tmp.x1.1700000000", &error));
  EXPECT_FALSE(SignedWebSocketPath("x.1", keys.secret_key, 1, &path, &error));
  EXPECT_EQ(error, kSignatureEncodingFailed);
}

TEST(TwoFactorList, RepliesBecomeEntries) {
  const PackValue data = PackValue::Map(
      {{"issuer", PackValue::String("GitHub")}, {"account", PackValue::String("alice")}});
  const PackValue body = PackValue::Map({
      {"list_ver", PackValue::Uint(7)},
      {"file_list", PackValue::Array({
                        PackValue::Map({{"id", PackValue::String("e1")},
                                        {"type", PackValue::String("totp")},
                                        {"data_plain", PackValue::Binary(PackEncode(data))},
                                        {"flags", PackValue::Array({PackValue::String("pin"),
                                                                    PackValue::Uint(1)})}}),
                        PackValue::Uint(3),                                 // not a map
                        PackValue::Map({{"id", PackValue::String("e2")}}),  // no type
                        PackValue::Map({{"id", PackValue::String("e3")},
                                        {"type", PackValue::String("totp")},
                                        {"status", PackValue::String("archived")},
                                        {"data_plain", PackValue::Binary("Proton:bob")}}),
                    })},
      {"deleted", PackValue::Array({PackValue::String("old")})},
  });
  EXPECT_EQ(ListVersionOf(body), "7");
  EXPECT_EQ(ListVersionOf(PackValue::Map({{"list_ver", PackValue::String("v9")}})), "v9");
  EXPECT_EQ(ListVersionOf(PackValue::Map({{"list_ver", PackValue::Int(-2)}})), "-2");
  const std::vector<TwoFactorEntry> entries = EntriesOf(body);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "GitHub");
  EXPECT_EQ(entries[0].account, "alice");
  EXPECT_EQ(entries[0].status, "active");
  EXPECT_EQ(entries[0].flags, std::vector<std::string>{"pin"});
  EXPECT_EQ(entries[1].name, "Proton");
  EXPECT_EQ(entries[1].account, "bob");
  EXPECT_EQ(entries[1].status, "archived");
  EXPECT_EQ(DeletedIdsOf(body), std::vector<std::string>{"old"});

  std::vector<TwoFactorEntry> cached = {{.id = "old"}, {.id = "e1", .name = "stale"}};
  MergeTwoFactorList(&cached, entries, DeletedIdsOf(body), /*full=*/false);
  ASSERT_EQ(cached.size(), 2u);
  EXPECT_EQ(cached[0].name, "GitHub");
  EXPECT_EQ(cached[1].id, "e3");
  MergeTwoFactorList(&cached, {entries[1]}, {}, /*full=*/true);
  EXPECT_EQ(cached.size(), 1u);

  // A "done" answer that names only another entry has no usable code.
  const std::string key = RandomBytes(kSecretBoxKeyBytes);
  std::string sealed, code, error;
  SecretBoxSeal("123456", key, &sealed, &error);
  const PackValue answer = PackValue::Map(
      {{"status", PackValue::String("done")},
       {"list", PackValue::Array({PackValue::Map({{"id", PackValue::String("e1")},
                                                  {"totp_data", PackValue::Binary(sealed)}})})}});
  EXPECT_TRUE(CodeFromTotpAnswer(answer, "e1", key, &code, &error));
  EXPECT_EQ(code, "123456");
  EXPECT_FALSE(CodeFromTotpAnswer(answer, "e2", key, &code, &error));
  EXPECT_EQ(error, kTotpNoUsableCode);
  EXPECT_FALSE(CodeFromTotpAnswer(answer, "e1", RandomBytes(32), &code, &error));
  EXPECT_EQ(error, kTotpNoUsableCode);
}

TEST(GkClient, PairsListsAndGetsApprovedCodesAndKeepsItsIdentity) {
  InProcessCompanion companion;
  ClientStore store;
  ASSERT_EQ(companion.Admin("/admin/add", kGithubUri).status, 200u);
  {
    PairedClient paired(companion, store);
    GKClient& client = paired.client;
    const GKClient::Status status = client.status();
    EXPECT_EQ(status.state, GKClient::State::kPaired);
    EXPECT_EQ(status.nickname, "tester");
    EXPECT_EQ(status.safe_id, companion.contents().safe_id);
    EXPECT_TRUE(status.account_key);

    std::vector<TwoFactorEntry> entries;
    std::string error;
    ASSERT_TRUE(client.FetchTwoFactor(&entries, &error)) << error;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "GitHub");
    EXPECT_EQ(entries[0].account, "alice@example.org");
    EXPECT_FALSE(entries[0].locked);
    // The version went back as a string; an unchanged list keeps the cache as it was.
    ASSERT_TRUE(client.FetchTwoFactor(&entries, &error)) << error;
    EXPECT_EQ(entries.size(), 1u);

    std::string code;
    auto asked = std::async(std::launch::async, [&] {
      std::string e;
      const bool ok = client.RequestTotp(entries[0].id, &code, &e, nullptr);
      return ok ? std::string() : e;
    });
    const int64_t before = Now();
    ASSERT_EQ(companion.Admin("/admin/approve", companion.WaitForPending()).status, 200u);
    EXPECT_EQ(asked.get(), "");
    EXPECT_TRUE(code == CurrentCode(before) || code == CurrentCode(Now())) << code;
  }
  // A restarted client is paired still and speaks with the same keys.
  GKClient restarted(store.Store(), companion.Source(), QuickTiming());
  EXPECT_TRUE(restarted.IsPaired());
  std::vector<TwoFactorEntry> entries;
  std::string error;
  EXPECT_TRUE(restarted.FetchTwoFactor(&entries, &error)) << error;
  EXPECT_EQ(entries.size(), 1u);
  restarted.Unpair();
  EXPECT_FALSE(GKClient(store.Store(), companion.Source()).IsPaired());
}

TEST(GkClient, DeniedTimedOutAndCancelledCodes) {
  InProcessCompanion companion;
  ClientStore store;
  ASSERT_EQ(companion.Admin("/admin/add", kGithubUri).status, 200u);
  PairedClient paired(companion, store);
  GKClient& client = paired.client;
  std::string code, error;

  auto asked = std::async(std::launch::async, [&] {
    std::string e, c;
    client.RequestTotp("e1", &c, &e, nullptr);
    return e;
  });
  ASSERT_EQ(companion.Admin("/admin/deny", companion.WaitForPending()).status, 200u);
  EXPECT_EQ(asked.get(), kTotpDenied);

  // Nobody answers: four attempts, one every 100 ms, then the time-out. The refresh thread
  // stops first, so that only the code requests are counted.
  paired.refresh.Stop();
  std::atomic<int> polls{0};
  companion.intercept_ =
      [&](const service::HttpRequestIn& r) -> std::optional<service::HttpResponseOut> {
    if (r.path == "/v3/") ++polls;
    return std::nullopt;
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.RequestTotp("e1", &code, &error, nullptr));
  EXPECT_EQ(error, kTotpTimedOut);
  EXPECT_EQ(polls.load(), 4);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  // The deadline ends it before the attempts do.
  polls = 0;
  EXPECT_FALSE(client.RequestTotp("e1", &code, &error, nullptr, std::chrono::milliseconds(150)));
  EXPECT_EQ(error, kTotpTimedOut);
  EXPECT_LE(polls.load(), 3);

  HttpCancellation cancel;
  cancel.Cancel();
  EXPECT_FALSE(client.RequestTotp("e1", &code, &error, &cancel));
  EXPECT_EQ(error, kTotpCancelled);
  // An entry the companion does not have.
  companion.intercept_ = nullptr;
  EXPECT_FALSE(client.RequestTotp("nope", &code, &error, nullptr));
  EXPECT_EQ(error, kTotpNoUsableCode);
}

TEST(GkClient, ARequestSpanningAnIdentityChangeFails) {
  InProcessCompanion companion;
  ClientStore store;
  PairedClient paired(companion, store);
  std::latch arrived(1), release(1);
  companion.intercept_ =
      [&](const service::HttpRequestIn& r) -> std::optional<service::HttpResponseOut> {
    if (r.path == "/v3/") {
      arrived.count_down();
      release.wait();
    }
    return std::nullopt;
  };
  auto fetched = std::async(std::launch::async, [&] {
    std::string error;
    paired.client.FetchTwoFactor(nullptr, &error);
    return error;
  });
  arrived.wait();
  paired.client.Unpair();
  release.count_down();
  EXPECT_EQ(fetched.get(), kGkRequestInFlight);
  companion.intercept_ = nullptr;
}

TEST(GkClient, ADeniedPairingLeavesTheClientUnpaired) {
  InProcessCompanion companion;
  ClientStore store;
  GKClient client(store.Store(), companion.Source(), QuickTiming());
  GkRefreshThread refresh(&client);
  std::string pairing_id, error;
  ASSERT_TRUE(client.StartPairing("Kavi test", &pairing_id, &error)) << error;
  EXPECT_EQ(client.status().state, GKClient::State::kPairing);
  EXPECT_EQ(client.status().pairing_id, pairing_id);
  EXPECT_FALSE(client.WaitForPairing(std::chrono::milliseconds(50), &error));
  EXPECT_EQ(error, kGkPairingNotDone);
  ASSERT_EQ(companion.Admin("/admin/deny", companion.WaitForPending()).status, 200u);
  EXPECT_FALSE(client.WaitForPairing(std::chrono::seconds(20), &error));
  EXPECT_EQ(error, kGkPairingDenied);
  EXPECT_EQ(client.status().state, GKClient::State::kUnpaired);
}

}  // namespace
}  // namespace kavi::win
