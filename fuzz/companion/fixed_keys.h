// SPDX-License-Identifier: Apache-2.0
// An app's and a service's keys made from fixed seeds, for the companion fuzzers: every run sees
// the same keys, so a crashing input reproduces.
#pragma once

#include <sodium.h>

#include <cstdlib>

#include "companion/crypto.h"
#include "companion/gks_envelope.h"

namespace kavi::win::fuzzing {

struct FixedKeys {
  BoxKeyPair app_box, service_box;
  SignKeyPair service_sign;
  GksServiceKeys service;

  // The three key pairs come from seeds first_seed, first_seed + 1 and first_seed + 2.
  explicit FixedKeys(unsigned char first_seed) {
    if (sodium_init() < 0) std::abort();
    unsigned char seed[32] = {first_seed};
    Make(seed, &app_box);
    seed[0] = first_seed + 1;
    Make(seed, &service_box);
    seed[0] = first_seed + 2;
    service_sign.public_key.resize(32);
    service_sign.secret_key.resize(64);
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(service_sign.public_key.data()),
                             reinterpret_cast<unsigned char*>(service_sign.secret_key.data()),
                             seed);
    service = {service_box.public_key, service_sign.public_key};
  }

 private:
  static void Make(const unsigned char* seed, BoxKeyPair* pair) {
    pair->public_key.resize(32);
    pair->secret_key.resize(32);
    crypto_box_seed_keypair(reinterpret_cast<unsigned char*>(pair->public_key.data()),
                            reinterpret_cast<unsigned char*>(pair->secret_key.data()), seed);
  }
};

}  // namespace kavi::win::fuzzing
