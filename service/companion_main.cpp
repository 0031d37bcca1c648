// SPDX-License-Identifier: Apache-2.0
// kavi-companion: a companion for Kavi's 2FA codes that a Linux user runs themselves. It holds
// the user's TOTP secrets (imported from otpauth:// URIs, encrypted under a passphrase), speaks
// the companion protocol to Kavi, and approves or denies Kavi's pairing and code requests from
// its command line or by the policy in its configuration.
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "companion/crypto.h"
#include "companion/gk_connection.h"
#include "config/json.h"
#include "net/service_endpoints.h"
#include "net/win_http_client.h"
#include "platform/directories.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "platform/folders.h"
#include "platform/log.h"
#include "platform/signal_watcher.h"
#include "platform/terminal.h"
#include "service/companion_config.h"
#include "service/companion_service.h"
#include "service/companion_vault.h"
#include "service/https_server.h"
#include "service/tls_certificates.h"

namespace kavi::service {
namespace {

namespace json = win::server;

constexpr char kUsage[] =
    "usage: kavi-companion [--dir DIR] COMMAND\n"
    "  DIR holds the configuration, certificates and vault (default: ~/.config/kavi-companion)\n"
    "commands:\n"
    "  init [--nickname NAME] [--port N] [--host NAME]... [--passphrase-file FILE]\n"
    "                      make DIR: configuration, certificate authority, admin token, and the\n"
    "                      vault, encrypted under a passphrase you choose\n"
    "  serve [--passphrase-file FILE]\n"
    "                      run the companion (it asks for the passphrase)\n"
    "  connect-kavi        point this user's Kavi at the running companion\n"
    "  list                pending requests, 2FA entries and paired apps\n"
    "  approve [ID]        approve a pending pairing or code request (the only one, without ID)\n"
    "  deny [ID]           deny it\n"
    "  add URI             add a TOTP entry from an otpauth://totp/... URI\n"
    "  remove-app APP_ID   unpair an app\n";

constexpr int kCertificateDays = 3650;
constexpr char kAdminTokenFileName[] = "admin.token";
constexpr char kVaultFileName[] = "vault.bin";
constexpr char kPortFileName[] = "port";

int Fail(const std::string& message, int code = 1) {
  std::cerr << "kavi-companion: " << message << "\n";
  return code;
}

std::filesystem::path DefaultDirectory() {
  const std::filesystem::path roaming = win::RoamingAppDataFolder();
  return (roaming.empty() ? std::filesystem::path(".") : roaming) / "kavi-companion";
}

// A line from the file, or typed at the terminal without echo.
bool ReadPassphrase(const std::string& file, const char* prompt, std::string* out) {
  out->clear();
  if (!file.empty()) {
    std::ifstream in(file);
    return static_cast<bool>(std::getline(in, *out)) && !out->empty();
  }
  std::cerr << prompt << std::flush;
  win::RawTerminal terminal;
  if (!terminal.active()) return static_cast<bool>(std::getline(std::cin, *out)) && !out->empty();
  while (std::optional<unsigned char> c = terminal.ReadByte()) {
    if (*c == '\r' || *c == '\n') break;
    if (*c == 0x03 || *c == 0x04) return false;
    if (*c == 0x7f || *c == 0x08) {
      if (!out->empty()) out->pop_back();
      continue;
    }
    out->push_back(static_cast<char>(*c));
  }
  std::cerr << "\n";
  return !out->empty();
}

// The running companion, as its command line reaches it: loopback, its CA, its admin token.
class AdminClient {
 public:
  bool Open(const std::filesystem::path& dir, std::string* error) {
    if (!LoadCompanionConfig(dir / kCompanionConfigFileName, &config_, error)) return false;
    uint16_t port = config_.port;
    std::string text;
    if (port == 0 &&
        win::ReadRegularFile(config_.port_file, 64, &text) == win::ReadFileResult::kRead)
      port = static_cast<uint16_t>(std::atoi(text.c_str()));
    if (win::ReadRegularFile(config_.admin_token, 1024, &token_) != win::ReadFileResult::kRead) {
      *error = "cannot read " + config_.admin_token.string();
      return false;
    }
    while (!token_.empty() && (token_.back() == '\n' || token_.back() == '\r')) token_.pop_back();
    base_ = "https://127.0.0.1:" + std::to_string(port);
    win::HttpClientOptions options;
    options.extra_ca_bundle = config_.ca_certificate;
    http_ = std::make_unique<win::WinHttpClient>(options);
    return true;
  }

  // The answer's JSON; false with the companion's error or why it could not be reached.
  bool Call(const std::string& method, const std::string& path, const std::string& body,
            win::JsonValue* answer, std::string* error) {
    win::HttpRequest request;
    request.method = method;
    request.url = base_ + path;
    request.body = body;
    request.headers = {{"Authorization", "Bearer " + token_}};
    win::HttpResponse response;
    win::HttpError failure;
    if (!http_->Send(request, &response, &failure)) {
      *error =
          "the companion does not answer at " + base_ + " (is `kavi-companion serve` running?)";
      return false;
    }
    if (!json::ParseJson(response.body, answer, error) || !answer->is_object()) {
      *error = "the companion's answer is not JSON";
      return false;
    }
    if (response.status != 200) {
      json::GetJsonString(*answer, "error", error);
      return false;
    }
    return true;
  }

  const CompanionConfig& config() const { return config_; }
  int port() const { return std::stoi(base_.substr(base_.rfind(':') + 1)); }

 private:
  CompanionConfig config_;
  std::string token_;
  std::string base_;
  std::unique_ptr<win::WinHttpClient> http_;
};

std::string Field(const win::JsonValue& value, std::string_view key) {
  std::string out;
  json::GetJsonString(value, key, &out);
  return out;
}

int Init(const std::filesystem::path& dir, const std::vector<std::string>& args) {
  std::string nickname = "me", passphrase_file;
  std::vector<std::string> hosts;
  int port = 8444;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--nickname" && i + 1 < args.size()) {
      nickname = args[++i];
    } else if (args[i] == "--port" && i + 1 < args.size()) {
      port = std::atoi(args[++i].c_str());
    } else if (args[i] == "--host" && i + 1 < args.size()) {
      hosts.push_back(args[++i]);
    } else if (args[i] == "--passphrase-file" && i + 1 < args.size()) {
      passphrase_file = args[++i];
    } else {
      return Fail(kUsage, 2);
    }
  }
  if (port < 0 || port > 65535) return Fail("--port must be 0 to 65535", 2);
  if (std::filesystem::exists(dir / kCompanionConfigFileName))
    return Fail((dir / kCompanionConfigFileName).string() + " exists already");
  std::string error;
  if (!win::CreateDirectories(dir, win::kPrivateDirectoryMode, &error)) return Fail(error);
  std::string passphrase, again;
  win::ScopedWipe wipe_passphrase(&passphrase);
  win::ScopedWipe wipe_again(&again);
  if (!ReadPassphrase(passphrase_file, "passphrase for the vault: ", &passphrase))
    return Fail("no passphrase");
  if (passphrase_file.empty() &&
      (!ReadPassphrase("", "the same passphrase again: ", &again) || again != passphrase))
    return Fail("the passphrases differ");

  CertificateFiles certificates;
  if (!MakeServerCertificates(dir, hosts, kCertificateDays, &certificates, &error))
    return Fail(error);
  if (!win::ReplaceFile(dir / kAdminTokenFileName, win::Base64Url(win::RandomBytes(32)) + "\n",
                        win::kPrivateFileMode, nullptr))
    return Fail("cannot write the admin token");
  std::string config = "{\n";
  config += "  \"listen\": \"127.0.0.1\",\n  \"port\": " + std::to_string(port) + ",\n";
  config += "  \"certificate\": \"server.pem\",\n  \"private_key\": \"server.key\",\n";
  config += "  \"ca_certificate\": \"ca.pem\",\n  \"vault\": \"vault.bin\",\n";
  config += "  \"admin_token\": \"admin.token\",\n  \"port_file\": \"port\",\n";
  config += "  \"pairing_policy\": \"ask\",\n  \"code_policy\": \"ask\"\n}\n";
  if (!win::ReplaceFile(dir / kCompanionConfigFileName, config, win::kPrivateFileMode, nullptr))
    return Fail("cannot write the configuration");
  CompanionConfig parsed;
  if (!LoadCompanionConfig(dir / kCompanionConfigFileName, &parsed, &error)) return Fail(error);
  VaultContents contents;
  CompanionVault vault;
  if (!CompanionVault::Fresh(nickname, &contents, &error) ||
      !vault.Create(parsed.vault, passphrase, parsed.kdf, std::move(contents), &error))
    return Fail(error);
  std::cout << "made " << dir.string() << "\nnext:\n"
            << "  kavi-companion serve            (leave it running)\n"
            << "  kavi-companion add 'otpauth://totp/...'\n"
            << "  kavi-companion connect-kavi     (points Kavi at it)\n"
            << "  kavi-client pair                (then: kavi-companion approve)\n";
  return 0;
}

int Serve(const std::filesystem::path& dir, const std::vector<std::string>& args) {
  win::SignalWatcher::BlockSignals();
  std::string passphrase_file;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--passphrase-file" && i + 1 < args.size()) {
      passphrase_file = args[++i];
    } else {
      return Fail(kUsage, 2);
    }
  }
  CompanionConfig config;
  std::string error, token;
  if (!LoadCompanionConfig(dir / kCompanionConfigFileName, &config, &error)) return Fail(error);
  if (win::ReadRegularFile(config.admin_token, 1024, &token) != win::ReadFileResult::kRead)
    return Fail("cannot read " + config.admin_token.string());
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
  CompanionVault vault;
  {
    std::string passphrase;
    win::ScopedWipe wipe_passphrase(&passphrase);
    if (!ReadPassphrase(passphrase_file, "passphrase: ", &passphrase)) return Fail("no passphrase");
    if (!vault.Open(config.vault, passphrase, &error)) return Fail(error);
  }
  CompanionService companion(config, &vault, token);
  HttpsServerOptions options;
  options.address = config.listen;
  options.port = config.port;
  options.certificate_chain = config.certificate;
  options.private_key = config.private_key;
  options.threads = config.threads;
  options.max_request_body_bytes = 64 * 1024;
  // Declared after the companion: the server (and every connection) goes first.
  HttpsServer server;
  server.SetWebSocketHandler([&companion](const HttpRequestIn& request,
                                          std::shared_ptr<WebSocketPeer> peer,
                                          HttpResponseOut* refusal) {
    return companion.Accept(request, std::move(peer), refusal);
  });
  if (!server.Start(
          options, [&companion](const HttpRequestIn& request) { return companion.Handle(request); },
          &error))
    return Fail(error);
  if (!config.port_file.empty() &&
      !win::ReplaceFile(config.port_file, std::to_string(server.port()) + "\n",
                        std::filesystem::perms(0644), nullptr))
    return Fail("cannot write " + config.port_file.string());
  win::LogLine("[kavi-companion] listening on " + config.listen + ":" +
               std::to_string(server.port()) + "\n");
  win::SignalWatcher signals([&server] { server.Stop(); });
  server.Wait();
  win::LogLine("[kavi-companion] stopped\n");
  return 0;
}

int List(AdminClient& admin) {
  win::JsonValue state;
  std::string error;
  if (!admin.Call("GET", "/admin/state", "", &state, &error)) return Fail(error);
  auto print = [&state](std::string_view key, const char* title, auto line) {
    const win::JsonValue* list = json::FindJsonMember(state, key);
    std::cout << title << (list == nullptr || list->array.empty() ? ": none\n" : ":\n");
    if (list == nullptr) return;
    for (const win::JsonValue& item : list->array) std::cout << "  " << line(item) << "\n";
  };
  print("pending", "pending", [](const win::JsonValue& item) {
    int64_t age = 0;
    json::GetJsonInt64(item, "age", &age);
    return Field(item, "id") + "  " + Field(item, "kind") + "  " + Field(item, "detail") +
           "  from " + Field(item, "from") + ", " + std::to_string(age) + " s ago";
  });
  print("entries", "entries", [](const win::JsonValue& item) {
    const std::string account = Field(item, "account");
    return Field(item, "id") + "  " + Field(item, "issuer") +
           (account.empty() ? "" : "  " + account);
  });
  print("apps", "paired apps", [](const win::JsonValue& item) {
    const win::JsonValue* online = json::FindJsonMember(item, "online");
    return Field(item, "app_id") + "  " + Field(item, "name") +
           (online && online->is_boolean() && online->boolean ? "  (connected)" : "");
  });
  return 0;
}

int Decide(AdminClient& admin, bool approve, std::string id) {
  std::string error;
  if (id.empty()) {
    win::JsonValue state;
    if (!admin.Call("GET", "/admin/state", "", &state, &error)) return Fail(error);
    const win::JsonValue* pending = json::FindJsonMember(state, "pending");
    if (pending == nullptr || pending->array.empty()) return Fail("nothing is pending");
    if (pending->array.size() > 1)
      return Fail("more than one request is pending: name one (kavi-companion list)");
    id = Field(pending->array[0], "id");
  }
  win::JsonValue answer;
  if (!admin.Call("POST", approve ? "/admin/approve" : "/admin/deny", id, &answer, &error))
    return Fail(error);
  std::cout << id << (approve ? " approved\n" : " denied\n");
  return 0;
}

int ConnectKavi(AdminClient& admin) {
  win::JsonValue state;
  std::string error;
  if (!admin.Call("GET", "/admin/state", "", &state, &error)) return Fail(error);
  const std::filesystem::path kavi_endpoints =
      win::RoamingAppDataFolder() / "Kavi" / win::kEndpointsFileName;
  std::string problems;
  const win::ServiceEndpoints current = win::LoadServiceEndpoints({}, kavi_endpoints, &problems);
  const std::filesystem::path ca = std::filesystem::absolute(admin.config().ca_certificate);
  const std::vector<std::pair<const char*, std::string>> settings = {
      {win::kCompanionBaseUrlKey, "https://localhost:" + std::to_string(admin.port())},
      {win::kCompanionBoxKeyKey, Field(state, "service_box_public_key")},
      {win::kCompanionSignKeyKey, Field(state, "service_sign_public_key")},
  };
  for (const auto& [key, value] : settings) {
    if (!win::SetUserEndpoint(kavi_endpoints, key, value, &error)) return Fail(error);
  }
  if (current.extra_ca_bundle.empty() || current.extra_ca_bundle == ca) {
    if (!win::SetUserEndpoint(kavi_endpoints, win::kExtraCaBundleKey, ca.string(), &error))
      return Fail(error);
  } else {
    std::cout << "note: Kavi already trusts " << current.extra_ca_bundle.string() << "; append "
              << ca.string() << " to it\n";
  }
  std::cout << "Kavi now uses the companion at " << settings[0].second << " (written to "
            << kavi_endpoints.string() << ")\n";
  return 0;
}

int Main(int argc, char** argv) {
  std::filesystem::path dir = DefaultDirectory();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--dir") {
    dir = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cerr << kUsage;
    return args.empty() ? 2 : 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "init") return Init(dir, args);
  if (command == "serve") return Serve(dir, args);

  AdminClient admin;
  std::string error;
  win::JsonValue answer;
  if (command == "list" && args.empty()) {
    if (!admin.Open(dir, &error)) return Fail(error);
    return List(admin);
  }
  if ((command == "approve" || command == "deny") && args.size() <= 1) {
    if (!admin.Open(dir, &error)) return Fail(error);
    return Decide(admin, command == "approve", args.empty() ? std::string() : args[0]);
  }
  if (command == "add" && args.size() == 1) {
    if (!admin.Open(dir, &error)) return Fail(error);
    if (!admin.Call("POST", "/admin/add", args[0], &answer, &error)) return Fail(error);
    std::cout << "added " << Field(answer, "id") << "\n";
    return 0;
  }
  if (command == "remove-app" && args.size() == 1) {
    if (!admin.Open(dir, &error)) return Fail(error);
    if (!admin.Call("POST", "/admin/remove-app", args[0], &answer, &error)) return Fail(error);
    std::cout << "removed " << args[0] << "\n";
    return 0;
  }
  if (command == "connect-kavi" && args.empty()) {
    if (!admin.Open(dir, &error)) return Fail(error);
    return ConnectKavi(admin);
  }
  std::cerr << kUsage;
  return 2;
}

}  // namespace
}  // namespace kavi::service

int main(int argc, char** argv) {
  return kavi::service::Main(argc, argv);
}
