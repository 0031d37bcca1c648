// SPDX-License-Identifier: Apache-2.0
#include "service/companion_vault.h"

#include <sodium.h>

#include "companion/gk_connection.h"
#include "companion/pack_codec.h"
#include "platform/directories.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"

namespace kavi::service {
namespace {

using win::PackValue;

constexpr char kFormat[] = "kavi-companion-vault";
constexpr uint64_t kFormatVersion = 1;
constexpr uintmax_t kMaxVaultBytes = 16u << 20;
constexpr char kWrongPassphrase[] = "wrong passphrase";

bool Fail(std::string* error, std::string message) {
  *error = std::move(message);
  return false;
}

std::string Text(const PackValue& map, std::string_view key) {
  const PackValue* value = map.Find(key);
  return value != nullptr ? std::string(value->bytes()) : std::string();
}

uint64_t Number(const PackValue& map, std::string_view key) {
  const PackValue* value = map.Find(key);
  return value != nullptr ? value->uint_value() : 0;
}

PackValue Encode(const VaultContents& v) {
  PackValue entries = PackValue::Array();
  for (const CompanionEntry& e : v.entries) {
    entries.Push(PackValue::Map({
        {"id", PackValue::String(e.id)},
        {"issuer", PackValue::String(e.issuer)},
        {"account", PackValue::String(e.account)},
        {"secret", PackValue::Binary(e.secret.key)},
        {"algorithm", PackValue::String(AlgorithmName(e.secret.algorithm))},
        {"digits", PackValue::Uint(static_cast<uint64_t>(e.secret.digits))},
        {"period", PackValue::Uint(static_cast<uint64_t>(e.secret.period))},
        {"added", PackValue::Int(e.added)},
    }));
  }
  PackValue apps = PackValue::Array();
  for (const PairedApp& a : v.apps) {
    apps.Push(PackValue::Map({
        {"app_id", PackValue::String(a.app_id)},
        {"name", PackValue::String(a.name)},
        {"sign_pk", PackValue::Binary(a.sign_public_key)},
        {"enc_pk", PackValue::Binary(a.box_public_key)},
        {"paired", PackValue::Int(a.paired)},
    }));
  }
  return PackValue::Map({
      {"service_sign_pk", PackValue::Binary(v.service_sign.public_key)},
      {"service_sign_sk", PackValue::Binary(v.service_sign.secret_key)},
      {"service_box_pk", PackValue::Binary(v.service_box.public_key)},
      {"service_box_sk", PackValue::Binary(v.service_box.secret_key)},
      {"safe_id", PackValue::String(v.safe_id)},
      {"nickname", PackValue::String(v.nickname)},
      {"safe_box_pk", PackValue::Binary(v.safe_box.public_key)},
      {"safe_box_sk", PackValue::Binary(v.safe_box.secret_key)},
      {"account_key", PackValue::Binary(v.account_key)},
      {"entries", std::move(entries)},
      {"apps", std::move(apps)},
      {"list_version", PackValue::Uint(v.list_version)},
      {"next_entry", PackValue::Uint(v.next_entry)},
  });
}

VaultContents Decode(const PackValue& map) {
  VaultContents v;
  v.service_sign = {Text(map, "service_sign_pk"), Text(map, "service_sign_sk")};
  v.service_box = {Text(map, "service_box_pk"), Text(map, "service_box_sk")};
  v.safe_id = Text(map, "safe_id");
  v.nickname = Text(map, "nickname");
  v.safe_box = {Text(map, "safe_box_pk"), Text(map, "safe_box_sk")};
  v.account_key = Text(map, "account_key");
  if (const PackValue* entries = map.Find("entries")) {
    for (const PackValue& e : entries->items()) {
      CompanionEntry entry;
      entry.id = Text(e, "id");
      entry.issuer = Text(e, "issuer");
      entry.account = Text(e, "account");
      entry.secret.key = Text(e, "secret");
      AlgorithmFromName(Text(e, "algorithm"), &entry.secret.algorithm);
      entry.secret.digits = static_cast<int>(Number(e, "digits"));
      entry.secret.period = static_cast<int>(Number(e, "period"));
      if (const PackValue* added = e.Find("added"))
        entry.added =
            added->is_int() ? added->int_value() : static_cast<int64_t>(added->uint_value());
      v.entries.push_back(std::move(entry));
    }
  }
  if (const PackValue* apps = map.Find("apps")) {
    for (const PackValue& a : apps->items()) {
      PairedApp app;
      app.app_id = Text(a, "app_id");
      app.name = Text(a, "name");
      app.sign_public_key = Text(a, "sign_pk");
      app.box_public_key = Text(a, "enc_pk");
      if (const PackValue* paired = a.Find("paired"))
        app.paired =
            paired->is_int() ? paired->int_value() : static_cast<int64_t>(paired->uint_value());
      v.apps.push_back(std::move(app));
    }
  }
  v.list_version = Number(map, "list_version");
  v.next_entry = Number(map, "next_entry");
  return v;
}

bool DeriveKey(const std::string& passphrase, const std::string& salt, uint64_t ops, uint64_t mem,
               std::string* key) {
  key->assign(crypto_secretbox_KEYBYTES, '\0');
  return crypto_pwhash(reinterpret_cast<unsigned char*>(key->data()), key->size(),
                       passphrase.data(), passphrase.size(),
                       reinterpret_cast<const unsigned char*>(salt.data()), ops,
                       static_cast<size_t>(mem), crypto_pwhash_ALG_ARGON2ID13) == 0;
}

}  // namespace

bool CompanionVault::Fresh(const std::string& nickname, VaultContents* contents,
                           std::string* error) {
  VaultContents v;
  if (!win::GenerateSignKeyPair(&v.service_sign, error) ||
      !win::GenerateBoxKeyPair(&v.service_box, error) ||
      !win::GenerateBoxKeyPair(&v.safe_box, error))
    return false;
  v.account_key = win::RandomBytes(win::kSecretBoxKeyBytes);
  v.safe_id = "safe-" + win::Base64Url(win::RandomBytes(9));
  v.nickname = nickname;
  *contents = std::move(v);
  return true;
}

CompanionVault::~CompanionVault() {
  win::Wipe(&key_);
}

bool CompanionVault::Create(const std::filesystem::path& file, const std::string& passphrase,
                            KdfStrength strength, VaultContents contents, std::string* error) {
  if (sodium_init() < 0) return Fail(error, win::kSodiumInitFailed);
  file_ = file;
  salt_ = win::RandomBytes(crypto_pwhash_SALTBYTES);
  ops_limit_ = strength == KdfStrength::kModerate ? crypto_pwhash_OPSLIMIT_MODERATE
                                                  : crypto_pwhash_OPSLIMIT_INTERACTIVE;
  mem_limit_ = strength == KdfStrength::kModerate ? crypto_pwhash_MEMLIMIT_MODERATE
                                                  : crypto_pwhash_MEMLIMIT_INTERACTIVE;
  if (!DeriveKey(passphrase, salt_, ops_limit_, mem_limit_, &key_))
    return Fail(error, "cannot derive the vault key (out of memory?)");
  contents_ = std::move(contents);
  return Save(error);
}

bool CompanionVault::Open(const std::filesystem::path& file, const std::string& passphrase,
                          std::string* error) {
  if (sodium_init() < 0) return Fail(error, win::kSodiumInitFailed);
  file_ = file;
  std::string bytes;
  if (win::ReadRegularFile(file, kMaxVaultBytes, &bytes) != win::ReadFileResult::kRead)
    return Fail(error, "cannot read the vault " + file.string());
  PackValue root;
  if (!win::PackDecode(bytes, &root, error) || Text(root, "format") != kFormat ||
      Number(root, "version") != kFormatVersion)
    return Fail(error, file.string() + " is not a kavi-companion vault");
  salt_ = Text(root, "salt");
  ops_limit_ = Number(root, "ops");
  mem_limit_ = Number(root, "mem");
  if (salt_.size() != crypto_pwhash_SALTBYTES || ops_limit_ < crypto_pwhash_OPSLIMIT_MIN ||
      mem_limit_ > crypto_pwhash_MEMLIMIT_MODERATE)
    return Fail(error, file.string() + " has invalid key derivation parameters");
  if (!DeriveKey(passphrase, salt_, ops_limit_, mem_limit_, &key_))
    return Fail(error, "cannot derive the vault key (out of memory?)");
  std::string plain;
  win::ScopedWipe wipe_plain(&plain);
  std::string ignored;
  if (!win::SecretBoxOpen(Text(root, "box"), key_, &plain, &ignored))
    return Fail(error, kWrongPassphrase);
  PackValue contents;
  if (!win::PackDecode(plain, &contents, error) || !contents.is_map())
    return Fail(error, file.string() + " holds no vault contents");
  contents_ = Decode(contents);
  return true;
}

bool CompanionVault::Save(std::string* error) {
  std::string plain = win::PackEncode(Encode(contents_));
  win::ScopedWipe wipe_plain(&plain);
  std::string box;
  if (!win::SecretBoxSeal(plain, key_, &box, error)) return false;
  const std::string bytes = win::PackEncode(PackValue::Map({
      {"format", PackValue::String(kFormat)},
      {"version", PackValue::Uint(kFormatVersion)},
      {"salt", PackValue::Binary(salt_)},
      {"ops", PackValue::Uint(ops_limit_)},
      {"mem", PackValue::Uint(mem_limit_)},
      {"box", PackValue::Binary(box)},
  }));
  std::string message;
  if (!win::CreateDirectories(file_.parent_path(), win::kPrivateDirectoryMode, &message))
    return Fail(error, message);
  win::ReplaceFailure failure;
  if (!win::ReplaceFile(file_, bytes, win::kPrivateFileMode, &failure))
    return Fail(error, "cannot write the vault " + file_.string());
  return true;
}

}  // namespace kavi::service
