// SPDX-License-Identifier: Apache-2.0
// kavi-sign: writes "<file>.p7s", a detached CMS signature of each file, with a certificate and
// its private key. The build signs the recogniser helper with the project's test key this way.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/signature/detached_signature.h"

int main(int argc, char** argv) {
  std::string certificate, key;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--certificate" && i + 1 < argc)
      certificate = argv[++i];
    else if (arg == "--key" && i + 1 < argc)
      key = argv[++i];
    else
      files.push_back(arg);
  }
  if (certificate.empty() || key.empty() || files.empty()) {
    std::fprintf(stderr, "usage: kavi-sign --certificate CERT.pem --key KEY.pem FILE...\n");
    return 2;
  }
  for (const std::string& file : files) {
    std::string error;
    if (!kavi::win::SignDetached(file, certificate, key, file + kavi::win::kSignatureSuffix,
                                 &error)) {
      std::fprintf(stderr, "kavi-sign: %s: %s\n", file.c_str(), error.c_str());
      return 1;
    }
  }
  return 0;
}
