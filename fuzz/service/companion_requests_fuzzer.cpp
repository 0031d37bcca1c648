// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as what kavi-companion reads from outside: the first byte picks the reader.
//   0  an otpauth:// URI (`kavi-companion add`); an accepted one gives codes of its digits
//   1  its configuration file
//   2  an app registration (POST /v3/handshake)
//   3  a sealed request as raw bytes (POST /v3/)
//   4  a sealed request from a paired app whose body map (and destination and timestamp) the
//      bytes choose, so that the handlers behind the envelope see arbitrary bodies; an accepted
//      request is answered with a response the app can open
//   5  a WebSocket: the signed path with an arbitrary timestamp text, then one message from the
//      app, raw or sealed with an arbitrary body
// The service is made anew every few thousand inputs, so that the pairings and code requests
// the inputs start cannot pile up.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "companion/crypto.h"
#include "companion/gk_connection.h"
#include "companion/gks_envelope.h"
#include "companion/pack_codec.h"
#include "fuzz/fuzz_check.h"
#include "service/companion_config.h"
#include "service/companion_service.h"
#include "service/companion_vault.h"
#include "service/totp.h"

using namespace kavi::service;
namespace win = kavi::win;

namespace {

constexpr int kInputsPerService = 4096;
constexpr char kAppId[] = "fuzzapp";
constexpr char kConnectionId[] = "app.fuzzapp";

using kavi::fuzz::Check;

class NullPeer final : public WebSocketPeer {
 public:
  void Send(std::string) override {}
  void Close() override {}
  void Cut() override {}
};

struct Companion {
  Companion() {
    std::string error;
    Check(CompanionVault::Fresh("fuzz", &vault.contents(), &error));
    Check(win::GenerateSignKeyPair(&app_sign, &error) && win::GenerateBoxKeyPair(&app_box, &error));
    vault.contents().apps.push_back(
        {kAppId, "Kavi", app_sign.public_key, app_box.public_key, 1700000000});
    OtpAuthEntry entry;
    Check(ParseOtpAuthUri("otpauth://totp/A:b?secret=JBSWY3DPEHPK3PXP", &entry, &error));
    vault.contents().entries.push_back({"e1", "A", "b", entry.secret, 1700000000});
    service_keys = {vault.contents().service_box.public_key,
                    vault.contents().service_sign.public_key};
    Renew();
  }
  void Renew() {
    service.reset();
    service = std::make_unique<CompanionService>(CompanionConfig{}, &vault, "token");
    inputs = 0;
  }

  CompanionVault vault;
  win::SignKeyPair app_sign;
  win::BoxKeyPair app_box;
  win::GksServiceKeys service_keys;
  std::unique_ptr<CompanionService> service;
  int inputs = 0;
};

HttpRequestIn Post(std::string path, std::string_view body) {
  HttpRequestIn request;
  request.method = "POST";
  request.path = std::move(path);
  request.body = std::string(body);
  request.peer = "127.0.0.1";
  return request;
}

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A body map from the bytes, or an empty map when they are not one.
win::PackValue BodyOf(std::string_view bytes) {
  win::PackValue value;
  std::string error;
  if (win::PackDecode(bytes, &value, &error) && value.is_map()) return value;
  return win::PackValue::Map();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Companion companion;
  if (++companion.inputs > kInputsPerService) companion.Renew();
  if (size < 3) return 0;
  const uint8_t choice = data[1], timing = data[2];
  const std::string_view body(reinterpret_cast<const char*>(data + 3), size - 3);
  CompanionService& service = *companion.service;
  std::string error;
  switch (data[0] % 6) {
    case 0: {
      OtpAuthEntry entry;
      if (ParseOtpAuthUri(body, &entry, &error)) {
        const TotpSecret& s = entry.secret;
        Check(!s.key.empty() && s.digits >= 6 && s.digits <= 8 && s.period >= 1 &&
              s.period <= 3600);
        const std::string code = TotpCode(s, int64_t{choice} << (timing % 40));
        Check(code.size() == static_cast<size_t>(s.digits) &&
              code.find_first_not_of("0123456789") == std::string::npos);
      }
      break;
    }
    case 1: {
      CompanionConfig config;
      if (ParseCompanionConfig(body, "/base", &config, &error))
        Check(config.certificate.is_absolute() && config.private_key.is_absolute() &&
              config.vault.is_absolute() && config.admin_token.is_absolute());
      break;
    }
    case 2: {
      const HttpResponseOut out = service.Handle(Post("/v3/handshake", body));
      Check(out.status == 200 || out.status == 400);
      if (out.status == 200) {
        win::PackValue answer;
        Check(win::PackDecode(out.body, &answer, &error) && answer.is_map());
      }
      break;
    }
    case 3: {
      const unsigned status = service.Handle(Post("/v3/", body)).status;
      Check(status >= 400 && status < 500);
      break;
    }
    case 4: {
      static constexpr const char* kDestinations[] = {"file_list", "app_req_account_key",
                                                      "file_req_enc_data", "elsewhere"};
      const int64_t timestamps[] = {Now(), Now() - 600, INT64_MIN, INT64_MAX};
      std::string sealed;
      Check(win::SealRequest(kConnectionId, "0.5.1", kDestinations[choice % 4], BodyOf(body),
                             companion.app_sign, companion.app_box, companion.service_keys,
                             timestamps[timing % 4], &sealed, &error));
      const HttpResponseOut out = service.Handle(Post("/v3/", sealed));
      if (out.status == 200) {
        win::PackValue header, answer;
        std::vector<std::string> raw;
        Check(win::OpenResponse(out.body, companion.app_box, companion.service_keys, &header,
                                &answer, &raw, &error));
      }
      break;
    }
    case 5: {
      const size_t cut = std::min<size_t>(choice % 24, body.size());
      std::string signed_message;
      Check(win::SignMessage(std::string(kConnectionId) + "." + std::string(body.substr(0, cut)),
                             companion.app_sign.secret_key, &signed_message, &error));
      HttpRequestIn upgrade;
      upgrade.method = "GET";
      upgrade.path = "/v3/ws";
      upgrade.query = "sig=" + win::Base64Url(signed_message);
      upgrade.peer = "127.0.0.1";
      HttpResponseOut refusal;
      std::shared_ptr<WebSocketSession> session =
          service.Accept(upgrade, std::make_shared<NullPeer>(), &refusal);
      if (!session) {
        Check(refusal.status == 400 || refusal.status == 401);
        break;
      }
      std::string message(body.substr(cut));
      if (timing % 2 == 0) {
        Check(win::SealRequest(kConnectionId, "0.5.1", timing % 4 == 0 ? "ack" : "file_list",
                               BodyOf(message), companion.app_sign, companion.app_box,
                               companion.service_keys, Now(), &message, &error));
      }
      session->OnMessage(message);
      session->OnClose();
      break;
    }
  }
  return 0;
}
