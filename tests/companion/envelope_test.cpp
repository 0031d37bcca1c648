// SPDX-License-Identifier: Apache-2.0
// The GKS envelope both ways, the libsodium wrappers' refusals, the registration payload and the
// authorisation result check.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "companion/crypto.h"
#include "companion/gks_envelope.h"
#include "companion/pack_codec.h"

namespace kavi::win {
namespace {

struct Parties {
  SignKeyPair app_sign, service_sign;
  BoxKeyPair app_box, service_box;
  GksServiceKeys service;

  Parties() {
    std::string error;
    EXPECT_TRUE(GenerateSignKeyPair(&app_sign, &error));
    EXPECT_TRUE(GenerateSignKeyPair(&service_sign, &error));
    EXPECT_TRUE(GenerateBoxKeyPair(&app_box, &error));
    EXPECT_TRUE(GenerateBoxKeyPair(&service_box, &error));
    service = {service_box.public_key, service_sign.public_key};
  }

  GksAppKeyLookup Lookup() const {
    return [this](std::string_view id, std::string* sign, std::string* box) {
      if (id != "app.42") return false;
      *sign = app_sign.public_key;
      *box = app_box.public_key;
      return true;
    };
  }

  std::string Response(const PackValue& body, std::vector<std::string> raw = {}) const {
    std::string out, error;
    EXPECT_TRUE(SealResponse("file_list", body, raw, service_sign, service_box.secret_key,
                             app_box.public_key, 1700000000, &out, &error))
        << error;
    return out;
  }

  std::string Open(const std::string& bytes, PackValue* body = nullptr,
                   std::vector<std::string>* raw = nullptr) const {
    PackValue header, inner;
    std::vector<std::string> list;
    std::string error;
    OpenResponse(bytes, app_box, service, &header, &inner, &list, &error);
    if (body) *body = inner;
    if (raw) *raw = list;
    return error;
  }
};

// Re-encodes a map with its members in reverse order (still valid MessagePack, as a sender that
// does not sort would write it).
std::string ReversedMap(const PackValue& map) {
  std::string out(1, static_cast<char>(0x80 | map.size()));
  for (size_t i = map.size(); i-- > 0;) {
    const PackMember& member = map.members()[i];
    out += PackEncode(member.key);
    out += member.value.is_map() ? ReversedMap(member.value) : PackEncode(member.value);
  }
  return out;
}

// The envelope with one member of its "gks" map changed, re-signed by `signer` when given.
std::string Tampered(const std::string& envelope, const std::function<void(PackValue*)>& change,
                     const SignKeyPair* signer) {
  PackValue root;
  std::string error;
  EXPECT_TRUE(PackDecode(envelope, &root, &error));
  change(root.Find(kGksKey));
  if (signer) {
    std::string seal;
    SignMessage(Sha256Digest(PackEncode(*root.Find(kGksKey))), signer->secret_key, &seal, &error);
    root.Set(kSealKey, PackValue::Binary(seal));
  }
  return PackEncode(root);
}

TEST(GksEnvelope, ARequestOpensOnTheServiceSideWithItsHeader) {
  Parties p;
  std::string sealed, error;
  const PackValue body = PackValue::Map({{"list_ver", PackValue::String("7")}});
  ASSERT_TRUE(SealRequest("app.42", "0.5.1", "file_list", body, p.app_sign, p.app_box, p.service,
                          1700000000, &sealed, &error));
  PackValue root;
  ASSERT_TRUE(PackDecode(sealed, &root, &error));
  EXPECT_EQ(root.Find(kSealKey)->bytes().size(), kSignatureBytes + kSha256Bytes);
  const PackValue* gks = root.Find(kGksKey);
  ASSERT_TRUE(gks && gks->is_map());
  std::vector<std::string_view> keys;
  for (const PackMember& m : gks->members()) keys.push_back(m.name());
  EXPECT_EQ(keys, (std::vector<std::string_view>{"app_ver", "box", "id", "n"}));
  EXPECT_EQ(gks->Find(kNonceKey)->bytes().size(), kBoxNonceBytes);

  GksRequest request;
  ASSERT_TRUE(OpenRequest(sealed, p.Lookup(), p.service_box.secret_key, &request, &error)) << error;
  EXPECT_EQ(request.id, "app.42");
  EXPECT_EQ(request.app_version, "0.5.1");
  EXPECT_EQ(request.header.Find(kToKey)->bytes(), "file_list");
  EXPECT_EQ(*request.header.Find(kTimestampKey), PackValue::Uint(1700000000));
  EXPECT_EQ(request.body, body);

  // Another app's id, or a seal by another key, is refused.
  const std::string renamed = Tampered(
      sealed, [](PackValue* g) { g->Set(kIdKey, PackValue::String("app.7")); }, &p.app_sign);
  EXPECT_FALSE(OpenRequest(renamed, p.Lookup(), p.service_box.secret_key, &request, &error));
  EXPECT_EQ(error, kUnknownGksSender);
  const std::string forged = Tampered(
      sealed, [](PackValue*) {}, &p.service_sign);
  EXPECT_FALSE(OpenRequest(forged, p.Lookup(), p.service_box.secret_key, &request, &error));
  EXPECT_EQ(error, kSignatureVerificationFailed);

  for (auto [id, destination] : {std::pair{"", "file_list"}, std::pair{"app.42", ""}}) {
    EXPECT_FALSE(SealRequest(id, "0.5.1", destination, body, p.app_sign, p.app_box, p.service, 0,
                             &sealed, &error));
    EXPECT_EQ(error, kInvalidGksRequest);
  }
  GksServiceKeys short_key = p.service;
  short_key.box_public_key.pop_back();
  EXPECT_FALSE(SealRequest("app.42", "0.5.1", "x", body, p.app_sign, p.app_box, short_key, 0,
                           &sealed, &error));
  EXPECT_EQ(error, kInvalidBoxKey);
}

TEST(GksEnvelope, AResponseOpensWhateverOrderTheSenderWroteItsMapsIn) {
  Parties p;
  const PackValue body = PackValue::Map(
      {{"status", PackValue::String("done")}, {"list", PackValue::Array({PackValue::Uint(1)})}});
  const std::string sealed = p.Response(body, {"raw-1", "raw-2"});
  PackValue root;
  std::string error;
  ASSERT_TRUE(PackDecode(sealed, &root, &error));
  const std::string reordered = ReversedMap(root);
  ASSERT_NE(reordered, sealed);

  for (const std::string& bytes : {sealed, reordered}) {
    PackValue opened;
    std::vector<std::string> raw;
    EXPECT_EQ(p.Open(bytes, &opened, &raw), "");
    EXPECT_EQ(opened, body);
    EXPECT_EQ(raw, (std::vector<std::string>{"raw-1", "raw-2"}));
  }
  // Only the binary elements of "raw" are handed on.
  const std::string mixed = Tampered(
      sealed,
      [](PackValue* g) {
        g->Set(kRawKey, PackValue::Array({PackValue::Uint(1), PackValue::Binary("b")}));
      },
      &p.service_sign);
  std::vector<std::string> raw;
  EXPECT_EQ(p.Open(mixed, nullptr, &raw), "");
  EXPECT_EQ(raw, std::vector<std::string>{"b"});
}

TEST(GksEnvelope, TamperedSealBoxOrSignatureIsRefused) {
  Parties p;
  const std::string sealed = p.Response(PackValue::Map({{"status", PackValue::String("done")}}));
  PackValue root;
  std::string error;
  ASSERT_TRUE(PackDecode(sealed, &root, &error));

  auto flip = [](std::string_view bytes, size_t at) {
    std::string out(bytes);
    out[at] = static_cast<char>(out[at] ^ 0x01);
    return out;
  };
  auto with_seal = [&](std::string seal) {
    PackValue copy = root;
    copy.Set(kSealKey, PackValue::Binary(seal));
    return PackEncode(copy);
  };
  const std::string seal(root.Find(kSealKey)->bytes());
  SignKeyPair stranger;
  GenerateSignKeyPair(&stranger, &error);

  struct Case {
    const char* what;
    std::string bytes;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"signature byte", with_seal(flip(seal, 3)), kSignatureVerificationFailed},
      {"signed digest byte", with_seal(flip(seal, 70)), kSignatureVerificationFailed},
      {"short seal", with_seal(seal.substr(0, 63)), kInvalidSignedMessage},
      {"box byte, same seal",
       Tampered(
           sealed,
           [&](PackValue* g) {
             g->Set(kBoxKey, PackValue::Binary(flip(g->Find(kBoxKey)->bytes(), 0)));
           },
           nullptr),
       kSignatureVerificationFailed},
      {"signed by a stranger",
       Tampered(
           sealed, [](PackValue*) {}, &stranger),
       kSignatureVerificationFailed},
      // A box changed by someone holding the signing key still fails its own authentication.
      {"box byte, re-signed",
       Tampered(
           sealed,
           [&](PackValue* g) {
             g->Set(kBoxKey, PackValue::Binary(flip(g->Find(kBoxKey)->bytes(), 5)));
           },
           &p.service_sign),
       kBoxAuthenticationFailed},
      {"nonce missing",
       Tampered(
           sealed, [](PackValue* g) { g->Set(kNonceKey, PackValue::String("n")); },
           &p.service_sign),
       kMissingGksBox},
      {"gks not a map",
       PackEncode(PackValue::Map({{"gks", PackValue::Array()}, {"seal", PackValue::Binary(seal)}})),
       kMalformedGksResponse},
      {"not a map", PackEncode(PackValue::Array()), kMalformedGksResponse},
      {"not MessagePack", "\xc1", "unsupported marker"},
  };
  for (const Case& c : cases) EXPECT_EQ(p.Open(c.bytes), c.error) << c.what;

  // A body that is not a map, sealed properly.
  std::string nonce, cipher, signed_digest, body_error;
  BoxSeal(PackEncode(PackValue::Map({{"header", PackValue::Map()}, {"body", PackValue::Uint(1)}})),
          p.app_box.public_key, p.service_box.secret_key, &nonce, &cipher, &body_error);
  PackValue gks =
      PackValue::Map({{"box", PackValue::Binary(cipher)}, {"n", PackValue::Binary(nonce)}});
  SignMessage(Sha256Digest(PackEncode(gks)), p.service_sign.secret_key, &signed_digest,
              &body_error);
  PackValue envelope = PackValue::Map({{"seal", PackValue::Binary(signed_digest)}});
  envelope.Set("gks", gks);
  EXPECT_EQ(p.Open(PackEncode(envelope)), kMalformedGksBody);
}

TEST(SodiumWrappers, RefuseBadSizesBeforeTheLibrary) {
  BoxKeyPair a, b;
  SignKeyPair s;
  std::string error, out, nonce, cipher;
  ASSERT_TRUE(GenerateBoxKeyPair(&a, &error) && GenerateBoxKeyPair(&b, &error));
  ASSERT_TRUE(GenerateSignKeyPair(&s, &error));
  EXPECT_EQ(a.secret_key.size(), kBoxSecretKeyBytes);
  EXPECT_EQ(s.secret_key.size(), kSignSecretKeyBytes);

  ASSERT_TRUE(BoxSeal("code", b.public_key, a.secret_key, &nonce, &cipher, &error));
  EXPECT_EQ(cipher.size(), 4 + kBoxMacBytes);
  ASSERT_TRUE(BoxOpen(nonce + cipher, a.public_key, b.secret_key, &out, &error));
  EXPECT_EQ(out, "code");
  out = "stale";
  EXPECT_FALSE(BoxOpen(std::string(39, 'x'), a.public_key, b.secret_key, &out, &error));
  EXPECT_EQ(error, kInvalidBoxInput);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(BoxOpen(nonce + cipher, b.public_key, b.secret_key, &out, &error));
  EXPECT_EQ(error, kBoxAuthenticationFailed);
  EXPECT_FALSE(BoxSeal("x", b.public_key.substr(1), a.secret_key, &nonce, &cipher, &error));
  EXPECT_EQ(error, kInvalidBoxKey);
  EXPECT_TRUE(nonce.empty() && cipher.empty());

  const std::string key = RandomBytes(kSecretBoxKeyBytes);
  std::string boxed;
  ASSERT_TRUE(SecretBoxSeal("123456", key, &boxed, &error));
  ASSERT_TRUE(SecretBoxOpen(boxed, key, &out, &error));
  EXPECT_EQ(out, "123456");
  boxed.back() ^= 1;
  EXPECT_FALSE(SecretBoxOpen(boxed, key, &out, &error));
  EXPECT_EQ(error, kSecretBoxAuthenticationFailed);
  EXPECT_FALSE(SecretBoxOpen(boxed, key.substr(1), &out, &error));
  EXPECT_EQ(error, kInvalidSecretBoxInput);

  std::string signed_message;
  EXPECT_FALSE(SignMessage("m", s.public_key, &signed_message, &error));
  EXPECT_EQ(error, kInvalidSigningKey);
  ASSERT_TRUE(SignMessage("message", s.secret_key, &signed_message, &error));
  EXPECT_TRUE(VerifySigned(signed_message, s.public_key, "message", &error));
  EXPECT_FALSE(VerifySigned(signed_message, s.public_key, "messagE", &error));
  EXPECT_EQ(error, kSignatureVerificationFailed);
  EXPECT_FALSE(VerifySigned(signed_message.substr(0, 63), s.public_key, "", &error));
  EXPECT_EQ(error, kInvalidSignedMessage);

  std::string secret = "secret";
  Wipe(&secret);
  EXPECT_TRUE(secret.empty());
}

TEST(AppRegistration, PayloadIsCanonicalWithItsSixMembers) {
  const std::string payload =
      AppRegistrationPayload(std::string(32, 'S'), std::string(32, 'E'), "Kavi");
  PackValue value;
  std::string error;
  ASSERT_TRUE(PackDecode(payload, &value, &error));
  EXPECT_EQ(PackEncode(value), payload);
  EXPECT_EQ(value, PackValue::Map({
                       {"ap", PackValue::Bool(true)},
                       {"app_tag", PackValue::String("kavi")},
                       {"enc_pk", PackValue::Binary(std::string(32, 'E'))},
                       {"name", PackValue::String("Kavi")},
                       {"requested_scopes", PackValue::Array({PackValue::String("2fa")})},
                       {"sign_pk", PackValue::Binary(std::string(32, 'S'))},
                   }));
}

TEST(AppAuthResult, EachRuleHasItsMessage) {
  const PackValue good = PackValue::Map({
      {"status", PackValue::String("done")},
      {"app_id", PackValue::String("a1")},
      {"safe_id", PackValue::String("s1")},
      {"user_nickname", PackValue::String("")},
      {"capabilities", PackValue::Array({PackValue::String("ap"), PackValue::String("sso")})},
      {"ap_access", PackValue::Map({{"full_access", PackValue::Bool(false)},
                                    {"scopes", PackValue::Array({PackValue::String("2fa")})}})},
      {"user_enc_pk", PackValue::Binary(std::string(32, 'k'))},
      {"account_key_for_ap", PackValue::Binary("sealed")},
  });
  AppAuthResult result;
  std::string error;
  ASSERT_TRUE(CheckAppAuthResult(&good, &result, &error)) << error;
  EXPECT_EQ(result.app_id, "a1");
  EXPECT_EQ(result.sealed_account_key, "sealed");

  const char* identity = "GK App auth result has invalid identity";
  const char* capabilities = "GK App auth result has invalid capabilities";
  const char* access = "GK App auth result has invalid AP access";
  const char* keys = "GK App auth result has invalid key material";
  const std::vector<std::tuple<std::string, PackValue, const char*>> cases = {
      {"status", PackValue::String("denied"), identity},
      {"app_id", PackValue::String(""), identity},
      {"safe_id", PackValue::Uint(1), identity},
      {"user_nickname", PackValue::Nil(), identity},
      {"capabilities", PackValue::Array({PackValue::String("sso"), PackValue::String("sso")}),
       capabilities},
      {"capabilities", PackValue::Array({PackValue::String("sso")}), capabilities},
      {"capabilities",
       PackValue::Array(
           {PackValue::String("sso"), PackValue::String("ap"), PackValue::String("x")}),
       capabilities},
      {"ap_access",
       PackValue::Map({{"full_access", PackValue::Bool(true)},
                       {"scopes", PackValue::Array({PackValue::String("2fa")})}}),
       access},
      {"ap_access",
       PackValue::Map({{"full_access", PackValue::Bool(false)},
                       {"scopes", PackValue::Array({PackValue::String("sso")})}}),
       access},
      {"ap_access", PackValue::Map({{"scopes", PackValue::Array({PackValue::String("2fa")})}}),
       access},
      {"user_enc_pk", PackValue::Binary(std::string(31, 'k')), keys},
      {"account_key_for_ap", PackValue::Binary(""), keys},
  };
  for (const auto& [key, value, message] : cases) {
    PackValue changed = good;
    changed.Set(key, value);
    EXPECT_FALSE(CheckAppAuthResult(&changed, &result, &error)) << key;
    EXPECT_EQ(error, message) << key;
  }
  EXPECT_FALSE(CheckAppAuthResult(nullptr, &result, &error));
  EXPECT_EQ(error, "missing GK App auth result output");
}

}  // namespace
}  // namespace kavi::win
