// SPDX-License-Identifier: Apache-2.0
#include "companion/gks_envelope.h"

#include "companion/pack_codec.h"

namespace kavi::win {
namespace {

constexpr char kMissingAuthResult[] = "missing GK App auth result output";
constexpr char kInvalidIdentity[] = "GK App auth result has invalid identity";
constexpr char kInvalidCapabilities[] = "GK App auth result has invalid capabilities";
constexpr char kInvalidAccess[] = "GK App auth result has invalid AP access";
constexpr char kInvalidKeyMaterial[] = "GK App auth result has invalid key material";

constexpr char kAppTag[] = "kavi";
constexpr char kTwoFactorScope[] = "2fa";

bool Fail(std::string* error, const char* message) {
  *error = message;
  return false;
}

// The member when it has the kind, else null.
const PackValue* Member(const PackValue& map, std::string_view key, PackKind kind) {
  const PackValue* value = map.Find(key);
  return value != nullptr && value->kind() == kind ? value : nullptr;
}

bool NonEmptyString(const PackValue& map, std::string_view key) {
  const PackValue* value = Member(map, key, PackKind::kString);
  return value != nullptr && !value->bytes().empty();
}

// The steps both directions share once the sender is known: the seal over the signed part,
// the box from the sender to us, and the header and body maps inside it.
bool OpenSealedMessage(const PackValue& gks, std::string_view seal,
                       std::string_view sender_sign_public_key,
                       std::string_view sender_box_public_key, std::string_view own_box_secret_key,
                       PackValue* header, PackValue* body, std::string* error) {
  // The digest is over the canonical re-encoding, so a sender's member order does not matter.
  if (!VerifySigned(seal, sender_sign_public_key, Sha256Digest(PackEncode(gks)), error))
    return false;
  const PackValue* cipher = Member(gks, kBoxKey, PackKind::kBinary);
  const PackValue* nonce = Member(gks, kNonceKey, PackKind::kBinary);
  if (cipher == nullptr || nonce == nullptr) return Fail(error, kMissingGksBox);
  std::string boxed(nonce->bytes());
  boxed += cipher->bytes();
  std::string plain;
  ScopedWipe wipe_plain(&plain);
  if (!BoxOpen(boxed, sender_box_public_key, own_box_secret_key, &plain, error)) return false;
  PackValue message;
  if (!PackDecode(plain, &message, error)) return false;
  PackValue* inner_header = message.Find(kHeaderKey);
  PackValue* inner_body = message.Find(kBodyKey);
  if (inner_header == nullptr || !inner_header->is_map() || inner_body == nullptr ||
      !inner_body->is_map())
    return Fail(error, kMalformedGksBody);
  *header = std::move(*inner_header);
  *body = std::move(*inner_body);
  return true;
}

}  // namespace

bool SealRequest(std::string_view app_id, std::string_view app_version,
                 std::string_view destination, const PackValue& body, const SignKeyPair& signing,
                 const BoxKeyPair& box, const GksServiceKeys& service, int64_t timestamp,
                 std::string* out, std::string* error) {
  if (out == nullptr) return Fail(error, kInvalidGksRequest);
  out->clear();
  if (app_id.empty() || destination.empty()) return Fail(error, kInvalidGksRequest);

  PackValue inner =
      PackValue::Map({{kHeaderKey, PackValue::Map({{kToKey, PackValue::String(destination)},
                                                   {kTimestampKey, PackValue::Int(timestamp)}})}});
  inner.Set(kBodyKey, body);
  std::string plain = PackEncode(inner);
  ScopedWipe wipe_plain(&plain);
  std::string nonce;
  std::string cipher;
  if (!BoxSeal(plain, service.box_public_key, box.secret_key, &nonce, &cipher, error)) return false;

  PackValue signed_part = PackValue::Map({{kAppVersionKey, PackValue::String(app_version)},
                                          {kBoxKey, PackValue::Binary(cipher)},
                                          {kIdKey, PackValue::String(app_id)},
                                          {kNonceKey, PackValue::Binary(nonce)}});
  std::string seal;
  if (!SignMessage(Sha256Digest(PackEncode(signed_part)), signing.secret_key, &seal, error))
    return false;
  PackValue envelope = PackValue::Map({{kSealKey, PackValue::Binary(seal)}});
  envelope.Set(kGksKey, std::move(signed_part));
  *out = PackEncode(envelope);
  error->clear();
  return true;
}

bool OpenResponse(std::string_view bytes, const BoxKeyPair& box, const GksServiceKeys& service,
                  PackValue* header, PackValue* body, std::vector<std::string>* raw,
                  std::string* error) {
  *header = PackValue();
  *body = PackValue();
  raw->clear();
  PackValue root;
  if (!PackDecodeBorrowed(bytes, &root, error)) return false;
  const PackValue* gks = Member(root, kGksKey, PackKind::kMap);
  const PackValue* seal = Member(root, kSealKey, PackKind::kBinary);
  if (gks == nullptr || seal == nullptr) return Fail(error, kMalformedGksResponse);
  if (!OpenSealedMessage(*gks, seal->bytes(), service.sign_public_key, service.box_public_key,
                         box.secret_key, header, body, error))
    return false;
  if (const PackValue* list = Member(*gks, kRawKey, PackKind::kArray)) {
    for (const PackValue& item : list->items()) {
      if (item.is_binary()) raw->emplace_back(item.bytes());
    }
  }
  error->clear();
  return true;
}

bool OpenRequest(std::string_view bytes, const GksAppKeyLookup& lookup,
                 std::string_view service_box_secret_key, GksRequest* request, std::string* error) {
  *request = GksRequest();
  PackValue root;
  if (!PackDecodeBorrowed(bytes, &root, error)) return false;
  const PackValue* gks = Member(root, kGksKey, PackKind::kMap);
  const PackValue* seal = Member(root, kSealKey, PackKind::kBinary);
  const PackValue* id = gks ? Member(*gks, kIdKey, PackKind::kString) : nullptr;
  const PackValue* version = gks ? Member(*gks, kAppVersionKey, PackKind::kString) : nullptr;
  if (seal == nullptr || id == nullptr || version == nullptr)
    return Fail(error, kMalformedGksRequest);
  std::string sign_public_key;
  std::string box_public_key;
  if (!lookup(id->bytes(), &sign_public_key, &box_public_key))
    return Fail(error, kUnknownGksSender);
  if (!OpenSealedMessage(*gks, seal->bytes(), sign_public_key, box_public_key,
                         service_box_secret_key, &request->header, &request->body, error))
    return false;
  request->id = id->bytes();
  request->app_version = version->bytes();
  error->clear();
  return true;
}

bool SealResponse(std::string_view from, const PackValue& body, const std::vector<std::string>& raw,
                  const SignKeyPair& service_signing, std::string_view service_box_secret_key,
                  std::string_view app_box_public_key, int64_t timestamp, std::string* out,
                  std::string* error) {
  out->clear();
  PackValue inner =
      PackValue::Map({{kHeaderKey, PackValue::Map({{kFromKey, PackValue::String(from)},
                                                   {kTimestampKey, PackValue::Int(timestamp)}})}});
  inner.Set(kBodyKey, body);
  std::string plain = PackEncode(inner);
  ScopedWipe wipe_plain(&plain);
  std::string nonce;
  std::string cipher;
  if (!BoxSeal(plain, app_box_public_key, service_box_secret_key, &nonce, &cipher, error))
    return false;
  PackValue gks =
      PackValue::Map({{kBoxKey, PackValue::Binary(cipher)}, {kNonceKey, PackValue::Binary(nonce)}});
  if (!raw.empty()) {
    PackValue list = PackValue::Array();
    for (const std::string& item : raw) list.Push(PackValue::Binary(item));
    gks.Set(kRawKey, std::move(list));
  }
  std::string seal;
  if (!SignMessage(Sha256Digest(PackEncode(gks)), service_signing.secret_key, &seal, error))
    return false;
  PackValue envelope = PackValue::Map({{kSealKey, PackValue::Binary(seal)}});
  envelope.Set(kGksKey, std::move(gks));
  *out = PackEncode(envelope);
  error->clear();
  return true;
}

std::string AppRegistrationPayload(std::string_view sign_public_key,
                                   std::string_view box_public_key, std::string_view app_name) {
  return PackEncode(PackValue::Map({
      {"ap", PackValue::Bool(true)},
      {"app_tag", PackValue::String(kAppTag)},
      {"enc_pk", PackValue::Binary(box_public_key)},
      {"name", PackValue::String(app_name)},
      {"requested_scopes", PackValue::Array({PackValue::String(kTwoFactorScope)})},
      {"sign_pk", PackValue::Binary(sign_public_key)},
  }));
}

bool CheckAppAuthResult(const PackValue* result, AppAuthResult* out, std::string* error) {
  if (out == nullptr || result == nullptr || !result->is_map())
    return Fail(error, kMissingAuthResult);
  *out = AppAuthResult();
  const PackValue& map = *result;

  const PackValue* status = Member(map, "status", PackKind::kString);
  if (status == nullptr || status->bytes() != "done" || !NonEmptyString(map, "app_id") ||
      !NonEmptyString(map, "safe_id") || Member(map, "user_nickname", PackKind::kString) == nullptr)
    return Fail(error, kInvalidIdentity);

  const PackValue* capabilities = Member(map, "capabilities", PackKind::kArray);
  if (capabilities == nullptr || capabilities->size() != 2)
    return Fail(error, kInvalidCapabilities);
  bool sso = false;
  bool ap = false;
  for (const PackValue& item : capabilities->items()) {
    bool* seen = !item.is_string()       ? nullptr
                 : item.bytes() == "sso" ? &sso
                 : item.bytes() == "ap"  ? &ap
                                         : nullptr;
    if (seen == nullptr || *seen) return Fail(error, kInvalidCapabilities);
    *seen = true;
  }

  const PackValue* access = Member(map, "ap_access", PackKind::kMap);
  const PackValue* full = access ? Member(*access, "full_access", PackKind::kBool) : nullptr;
  const PackValue* scopes = access ? Member(*access, "scopes", PackKind::kArray) : nullptr;
  if (full == nullptr || full->boolean() || scopes == nullptr || scopes->size() != 1 ||
      !scopes->items()[0].is_string() || scopes->items()[0].bytes() != kTwoFactorScope)
    return Fail(error, kInvalidAccess);

  const PackValue* safe_key = Member(map, "user_enc_pk", PackKind::kBinary);
  const PackValue* account_key = Member(map, "account_key_for_ap", PackKind::kBinary);
  if (safe_key == nullptr || safe_key->bytes().size() != kBoxPublicKeyBytes ||
      account_key == nullptr || account_key->bytes().empty())
    return Fail(error, kInvalidKeyMaterial);

  out->app_id = map.Find("app_id")->bytes();
  out->safe_id = map.Find("safe_id")->bytes();
  out->nickname = map.Find("user_nickname")->bytes();
  out->safe_enc_pk = safe_key->bytes();
  out->sealed_account_key = account_key->bytes();
  error->clear();
  return true;
}

}  // namespace kavi::win
