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
#include "fuzz/companion/fixed_keys.h"

namespace {

using namespace kavi::win;

struct Keys : fuzzing::FixedKeys {
  std::string account_key = std::string(32, '\x5a');
  Keys() : FixedKeys(7) {}
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
