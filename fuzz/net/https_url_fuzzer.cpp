// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as a URL and a header for the HTTPS client's checks. An accepted URL is HTTPS
// without credentials, fragment or control characters, and taking its parts apart again gives
// the same parts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "net/https_url.h"
#include "net/win_http_client.h"

using namespace kavi::win;

namespace {

using kavi::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\n');
  const std::string_view url = input.substr(0, split);
  HttpsUrl parsed;
  HttpError error;
  if (ParseHttpsUrl(url, &parsed, &error)) {
    Check(url.find('#') == std::string_view::npos && !parsed.host.empty() && parsed.port != 0);
    for (unsigned char c : url) Check(c >= 32);
    Check(!parsed.path.empty() && parsed.path[0] == '/');
    const std::string again =
        "https://" + parsed.host + ":" + std::to_string(parsed.port) + parsed.path;
    HttpsUrl reparsed;
    Check(ParseHttpsUrl(again, &reparsed, &error));
    Check(reparsed.host == parsed.host && reparsed.port == parsed.port &&
          reparsed.path == parsed.path);
  } else {
    Check(!error.stage.empty());
  }

  if (split == std::string_view::npos) return 0;
  // The rest as "name: value" of a request header.
  const std::string_view header = input.substr(split + 1);
  const size_t colon = header.find(':');
  HttpRequest request;
  request.url = "https://127.0.0.1/";
  request.headers.emplace_back(
      std::string(header.substr(0, colon)),
      colon == std::string_view::npos ? std::string() : std::string(header.substr(colon + 1)));
  if (ValidateHttpRequest(request, &error)) {
    const auto& [name, value] = request.headers[0];
    Check(!name.empty() && name.find_first_of(" :\r\n") == std::string::npos);
    for (unsigned char c : value) Check(c >= 32);
  } else {
    Check(error.code == kHttpErrorInvalidArgument);
  }
  return 0;
}
