// SPDX-License-Identifier: Apache-2.0
// A certificate authority of one's own and a server certificate it signs, made with OpenSSL, for
// a self-hosted service that its clients trust through their extra CA bundle.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kavi::service {

struct CertificateFiles {
  std::filesystem::path ca;           // the authority's certificate (PEM): what clients trust
  std::filesystem::path chain;        // the server's certificate (PEM)
  std::filesystem::path private_key;  // the server's key (PEM, only the user can read it)
};

// Writes ca.pem, server.pem and server.key into `directory`: a server certificate for
// localhost, 127.0.0.1, ::1 and each of `extra_names` (host names or IP addresses), valid for
// `days`. The authority's own key is not kept: nothing else can be signed with it.
bool MakeServerCertificates(const std::filesystem::path& directory,
                            const std::vector<std::string>& extra_names, int days,
                            CertificateFiles* out, std::string* error);

}  // namespace kavi::service
