// SPDX-License-Identifier: Apache-2.0
#include "net/https_url.h"

#include <curl/curl.h>

#include <memory>

namespace kavi::win {
namespace {

constexpr char kStage[] = "ParseHttpsUrl";
constexpr char kCrackStage[] = "WinHttpCrackUrl";

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct PartDeleter {
  void operator()(char* part) const { curl_free(part); }
};
using Part = std::unique_ptr<char, PartDeleter>;

// The part, or nothing when the URL has none.
bool GetPart(CURLU* url, CURLUPart which, unsigned flags, std::string* out) {
  char* raw = nullptr;
  if (curl_url_get(url, which, &raw, flags) != CURLUE_OK || raw == nullptr) return false;
  Part part(raw);
  *out = part.get();
  return true;
}

bool Fail(HttpError* error, uint32_t code, const char* stage, const char* message) {
  error->code = code;
  error->stage = stage;
  error->message = message;
  return false;
}

}  // namespace

bool ParseHttpsUrl(std::string_view url, HttpsUrl* out, HttpError* error) {
  if (url.empty() || url.size() > kHttpMaxBodyBytes || url.find('#') != std::string_view::npos)
    return Fail(error, kHttpErrorInvalidArgument, kStage, kUrlInvalidMessage);
  for (unsigned char c : url) {
    if (c < 32) return Fail(error, kHttpErrorInvalidArgument, kStage, kUrlInvalidMessage);
  }
  std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
  if (!handle) return Fail(error, kHttpErrorOutOfMemory, kCrackStage, "");
  const std::string text(url);
  // Unknown schemes are taken apart too, so that they get the HTTPS message below.
  if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(),
                   CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) != CURLUE_OK)
    return Fail(error, kHttpErrorInvalidUrl, kCrackStage, "");

  std::string scheme, host, port, path, query, user, password;
  GetPart(handle.get(), CURLUPART_SCHEME, 0, &scheme);
  GetPart(handle.get(), CURLUPART_HOST, 0, &host);
  const bool has_user = GetPart(handle.get(), CURLUPART_USER, 0, &user);
  const bool has_password = GetPart(handle.get(), CURLUPART_PASSWORD, 0, &password);
  if (scheme != "https" || host.empty() || has_user || has_password)
    return Fail(error, kHttpErrorInvalidArgument, kStage, kUrlNotHttpsMessage);

  // A host that comes out different when written again (a percent-encoded "%39" becomes the
  // address 0.0.0.9 the second time) names no single server: refuse it rather than guess.
  {
    std::unique_ptr<CURLU, UrlDeleter> again(curl_url());
    std::string again_host;
    if (!again ||
        curl_url_set(again.get(), CURLUPART_URL, ("https://" + host + "/").c_str(), 0) !=
            CURLUE_OK ||
        !GetPart(again.get(), CURLUPART_HOST, 0, &again_host) || again_host != host)
      return Fail(error, kHttpErrorInvalidUrl, kCrackStage, "");
  }

  HttpsUrl parsed;
  parsed.host = host;
  if (GetPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT, &port)) {
    const unsigned long number = std::strtoul(port.c_str(), nullptr, 10);
    if (number == 0 || number > 65535) return Fail(error, kHttpErrorInvalidUrl, kCrackStage, "");
    parsed.port = static_cast<uint16_t>(number);
  }
  GetPart(handle.get(), CURLUPART_PATH, 0, &path);
  parsed.path = path.empty() ? "/" : path;
  if (GetPart(handle.get(), CURLUPART_QUERY, 0, &query)) parsed.path += "?" + query;
  *out = std::move(parsed);
  *error = HttpError{};
  return true;
}

}  // namespace kavi::win
