// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes into the WebSocket event reader, two ways (the first byte chooses): as the
// message itself; and as the body of an event the service sealed properly, whose name the second
// byte picks, so that what the client does with an event's body (the pairing result check, the
// 2FA list, a code answer) sees arbitrary input too.
#include <sodium.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "companion/crypto.h"
#include "companion/gk_events.h"
#include "companion/gks_envelope.h"
#include "companion/pack_codec.h"
#include "companion/two_factor_list.h"

namespace {

using namespace kavi::win;

struct Keys {
  BoxKeyPair app_box, service_box;
  SignKeyPair service_sign;
  GksServiceKeys service;
  std::string account_key = std::string(32, '\x5a');

  Keys() {
    if (sodium_init() < 0) std::abort();
    // Fixed seeds: every run sees the same keys, so a crashing input reproduces.
    unsigned char seed[32] = {7};
    Make(seed, &app_box);
    seed[0] = 8;
    Make(seed, &service_box);
    seed[0] = 9;
    service_sign.public_key.resize(32);
    service_sign.secret_key.resize(64);
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(service_sign.public_key.data()),
                             reinterpret_cast<unsigned char*>(service_sign.secret_key.data()),
                             seed);
    service = {service_box.public_key, service_sign.public_key};
  }
  static void Make(const unsigned char* seed, BoxKeyPair* pair) {
    pair->public_key.resize(32);
    pair->secret_key.resize(32);
    crypto_box_seed_keypair(reinterpret_cast<unsigned char*>(pair->public_key.data()),
                            reinterpret_cast<unsigned char*>(pair->secret_key.data()), seed);
  }
};

const Keys& TheKeys() {
  static const Keys keys;
  return keys;
}

constexpr const char* kNames[] = {kEventPing,
                                  kEventConnected,
                                  kEventAppAuthResult,
                                  kEventFileListUpdated,
                                  kEventAppScopeUpdated,
                                  kEventAppDeleted,
                                  "file_req_enc_data",
                                  ""};

// What the client reads out of an event's body; every reader must answer whole.
void ReadBody(const Keys& keys, const PackValue& body) {
  AppAuthResult auth;
  std::string error;
  if (CheckAppAuthResult(&body, &auth, &error) != error.empty()) std::abort();
  (void)ListVersionOf(body);
  for (TwoFactorEntry& entry : EntriesOf(body)) {
    DescribeTwoFactorEntry(&entry);
    std::string code;
    if (CodeFromTotpAnswer(body, entry.id, keys.account_key, &code, &error) && code.empty())
      std::abort();
  }
  (void)DeletedIdsOf(body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Keys& keys = TheKeys();
  const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  GkEvent event;
  std::string error;
  if (data[0] % 2 == 0) {
    const std::string message(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool read = ReadGkEvent(message, keys.app_box, keys.service, &event, &error);
    if (read != error.empty() || (read && event.name.empty())) std::abort();
    if (read) ReadBody(keys, event.body);
    return 0;
  }
  PackValue body;
  if (!PackDecode(rest, &body, &error) || !body.is_map()) return 0;
  const std::string name = kNames[data[1] % std::size(kNames)];
  std::string sealed;
  if (!SealResponse(name, body, {}, keys.service_sign, keys.service_box.secret_key,
                    keys.app_box.public_key, 1, &sealed, &error))
    std::abort();
  const bool read = ReadGkEvent(sealed, keys.app_box, keys.service, &event, &error);
  // The envelope nests the body one level deeper: a body at the depth limit cannot travel.
  if (!read && error != "nesting too deep" && !(name.empty() && error == kMissingEventName))
    std::abort();
  if (read) {
    if (event.name != name) std::abort();
    ReadBody(keys, event.body);
  }
  return 0;
}
