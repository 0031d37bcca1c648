// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes into OpenResponse, three ways (the first byte chooses): as the envelope
// itself; as the body of an envelope that the service sealed properly (which must open to the
// same body, up to the kind of non-negative integers); and as the boxed plain text of a properly
// sealed envelope, so that the steps after the signature and the box see arbitrary input too.
#include <sodium.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "companion/crypto.h"
#include "companion/gks_envelope.h"
#include "companion/pack_codec.h"
#include "fuzz/companion/fixed_keys.h"

namespace {

using namespace kavi::win;

struct Keys : fuzzing::FixedKeys {
  Keys() : FixedKeys(1) {}
};

const Keys& TheKeys() {
  static const Keys keys;
  return keys;
}

// An envelope around `plain`, boxed and signed as the service does.
std::string Envelope(const Keys& keys, const std::string& plain) {
  std::string nonce, cipher, seal, error;
  BoxSeal(plain, keys.app_box.public_key, keys.service_box.secret_key, &nonce, &cipher, &error);
  PackValue gks =
      PackValue::Map({{"box", PackValue::Binary(cipher)}, {"n", PackValue::Binary(nonce)}});
  SignMessage(Sha256Digest(PackEncode(gks)), keys.service_sign.secret_key, &seal, &error);
  PackValue root = PackValue::Map({{"seal", PackValue::Binary(seal)}});
  root.Set("gks", std::move(gks));
  return PackEncode(root);
}

}  // namespace

// Opens an envelope; an outcome must be whole: maps and no error, or nothing and an error.
bool Open(const Keys& keys, const std::string& bytes, PackValue* body,
          std::vector<std::string>* raw, std::string* error) {
  PackValue header;
  const bool opened = OpenResponse(bytes, keys.app_box, keys.service, &header, body, raw, error);
  if (opened != error->empty()) std::abort();
  if (opened ? !(header.is_map() && body->is_map())
             : !(header.is_nil() && body->is_nil() && raw->empty()))
    std::abort();
  return opened;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Keys& keys = TheKeys();
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  PackValue body;
  std::vector<std::string> raw;
  std::string error;
  switch (data[0] % 3) {
    case 0:
      Open(keys, rest, &body, &raw, &error);
      break;
    case 1: {
      PackValue sent;
      std::string sealed;
      if (!PackDecode(rest, &sent, &error) || !sent.is_map()) return 0;
      if (!SealResponse("event", sent, {rest}, keys.service_sign, keys.service_box.secret_key,
                        keys.app_box.public_key, 1, &sealed, &error))
        std::abort();
      // The envelope nests the body one level deeper: a body at the depth limit cannot travel.
      if (!Open(keys, sealed, &body, &raw, &error)) {
        if (error != "nesting too deep") std::abort();
      } else if (PackEncode(body) != PackEncode(sent) || raw != std::vector<std::string>{rest}) {
        std::abort();
      }
      break;
    }
    default:
      Open(keys, Envelope(keys, rest), &body, &raw, &error);
      break;
  }
  return 0;
}
