// SPDX-License-Identifier: Apache-2.0
#include "net/win_http_client.h"

#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string_view>
#include <vector>

#include "net/http_cancellation.h"
#include "net/https_url.h"
#include "platform/file_read.h"
#include "platform/ipc.h"
#include "platform/stream_socket.h"

namespace kavi::win {
namespace {

constexpr char kSendStage[] = "Send";
constexpr char kSendRequestStage[] = "WinHttpSendRequest";
constexpr char kReceiveResponseStage[] = "WinHttpReceiveResponse";
constexpr char kReadDataStage[] = "WinHttpReadData";
constexpr char kOpenStage[] = "WinHttpOpen";
constexpr uintmax_t kMaxCaBundleBytes = 16 * 1024 * 1024;
// Large reads keep a streamed download's system-call count low.
constexpr long kStreamBufferBytes = 512 * 1024;
constexpr std::string_view kMethods[] = {"GET", "POST", "PUT", "PATCH", "DELETE", "HEAD"};

bool Fail(HttpError* error, uint32_t code, std::string stage, std::string message = {}) {
  error->code = code;
  error->stage = std::move(stage);
  error->message = std::move(message);
  return false;
}

bool HeaderNameChar(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool ValidHeader(const std::string& name, const std::string& value) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (!HeaderNameChar(c)) return false;
  }
  for (unsigned char c : value) {
    if (c < 32) return false;  // CR, LF and every other control character
  }
  return true;
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The failing step of a transfer, as far as it got.
enum class Phase { kSending, kAwaitingResponse, kReadingBody };

const char* StageOf(Phase phase) {
  switch (phase) {
    case Phase::kSending:
      return kSendRequestStage;
    case Phase::kAwaitingResponse:
      return kReceiveResponseStage;
    case Phase::kReadingBody:
      return kReadDataStage;
  }
  return kSendRequestStage;
}

uint32_t CodeOf(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kHttpErrorTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kHttpErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kHttpErrorCannotConnect;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CRL_BADFILE:
      return kHttpErrorSecureFailure;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return kHttpErrorConnection;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kHttpErrorInvalidServerResponse;
    case CURLE_OUT_OF_MEMORY:
      return kHttpErrorOutOfMemory;
    default:
      return kHttpErrorInternal;
  }
}

// Effective time-out: 0 means none.
std::chrono::milliseconds Limit(uint32_t ms) {
  return std::chrono::milliseconds(ms == 0 ? 0 : ms);
}

// One transfer: the sockets it opened (so that a cancellation can shut them down), its progress
// and why it stopped.
class CurlTransfer final : public HttpTransferHandle {
 public:
  CurlTransfer(const HttpRequest& request, HttpBodySink* sink) : request_(request), sink_(sink) {}

  void Abort() override {
    aborted_.store(true);
    std::lock_guard<std::mutex> hold(mutex_);
    for (int fd : sockets_) ShutdownSocket(fd);
  }
  bool aborted() const { return aborted_.load(); }

  static curl_socket_t OpenSocketCallback(void* self, curlsocktype, curl_sockaddr* address) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    std::lock_guard<std::mutex> hold(transfer->mutex_);
    if (transfer->aborted_.load()) return CURL_SOCKET_BAD;
    const int fd = OpenSocket(address->family, address->socktype, address->protocol);
    if (fd < 0) return CURL_SOCKET_BAD;
    transfer->sockets_.push_back(fd);
    return fd;
  }

  static int CloseSocketCallback(void* self, curl_socket_t fd) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    std::lock_guard<std::mutex> hold(transfer->mutex_);
    auto& sockets = transfer->sockets_;
    sockets.erase(std::remove(sockets.begin(), sockets.end(), fd), sockets.end());
    CloseSocket(fd);
    return 0;
  }

  static size_t HeaderCallback(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    const size_t bytes = size * count;
    std::string_view line(data, bytes);
    transfer->Touch();
    if (transfer->phase_ == Phase::kSending) transfer->phase_ = Phase::kAwaitingResponse;
    if (line.starts_with("HTTP/")) {
      // A new response: an interim 1xx answer's headers are not the final ones.
      transfer->raw_headers_.clear();
      transfer->status_ = ParseStatus(line);
    }
    transfer->raw_headers_.append(line);
    if ((line == "\r\n" || line == "\n") && transfer->status_ >= 200) {
      transfer->phase_ = Phase::kReadingBody;
      if (!transfer->sink_->OnHeaders(transfer->status_, transfer->raw_headers_)) {
        transfer->sink_stopped_ = true;
        return 0;
      }
    }
    return bytes;
  }

  static size_t WriteCallback(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    const size_t bytes = size * count;
    transfer->Touch();
    if (transfer->aborted()) return 0;
    if (!transfer->sink_->OnBody(data, bytes)) {
      transfer->sink_stopped_ = true;
      return 0;
    }
    return bytes;
  }

  // Called by libcurl at least once a second: cancellation and the send and receive time-outs
  // (libcurl itself only bounds the connection set-up and the whole transfer).
  static int ProgressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    if (transfer->aborted()) return 1;
    const auto now = std::chrono::steady_clock::now();
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(transfer->curl_, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    if (pretransfer == 0) {
      // Still resolving, connecting or shaking hands: the connect time-out's business.
      transfer->last_activity_ = now;
      return 0;
    }
    if (uploaded != transfer->uploaded_) {
      transfer->uploaded_ = uploaded;
      transfer->last_activity_ = now;
    }
    const bool sending = transfer->phase_ == Phase::kSending &&
                         uploaded < static_cast<curl_off_t>(transfer->request_.body.size());
    const auto limit =
        Limit(sending ? transfer->request_.send_timeout_ms : transfer->request_.receive_timeout_ms);
    if (limit.count() != 0 && now - transfer->last_activity_ > limit) {
      transfer->timed_out_ = true;
      return 1;
    }
    return 0;
  }

  void Attach(CURL* curl) { curl_ = curl; }
  void Touch() { last_activity_ = std::chrono::steady_clock::now(); }

  Phase phase() const { return phase_; }
  bool sink_stopped() const { return sink_stopped_; }
  bool timed_out() const { return timed_out_; }

 private:
  static uint32_t ParseStatus(std::string_view line) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return 0;
    uint32_t status = 0;
    for (size_t i = space + 1; i < line.size() && i < space + 4; ++i) {
      if (line[i] < '0' || line[i] > '9') return 0;
      status = status * 10 + static_cast<uint32_t>(line[i] - '0');
    }
    return status;
  }

  const HttpRequest& request_;
  HttpBodySink* sink_;
  CURL* curl_ = nullptr;
  std::mutex mutex_;
  std::vector<int> sockets_;
  std::atomic<bool> aborted_{false};
  Phase phase_ = Phase::kSending;
  uint32_t status_ = 0;
  std::string raw_headers_;
  curl_off_t uploaded_ = 0;
  std::chrono::steady_clock::time_point last_activity_ = std::chrono::steady_clock::now();
  bool sink_stopped_ = false;
  bool timed_out_ = false;
};

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Keeps the whole body, within the request's limit.
class BufferSink final : public HttpBodySink {
 public:
  BufferSink(HttpResponse* response, uint64_t limit) : response_(response), limit_(limit) {}
  bool OnHeaders(uint32_t status, const std::string& raw_headers) override {
    response_->status = status;
    response_->raw_headers = raw_headers;
    return true;
  }
  bool OnBody(const char* data, size_t size) override {
    if (response_->body.size() + size > limit_) {
      too_large_ = true;
      return false;
    }
    response_->body.append(data, size);
    return true;
  }
  bool too_large() const { return too_large_; }

 private:
  HttpResponse* response_;
  uint64_t limit_;
  bool too_large_ = false;
};

}  // namespace

struct WinHttpClient::TrustAnchors {
  std::vector<X509*> certificates;
  std::string load_error;
  ~TrustAnchors() {
    for (X509* certificate : certificates) X509_free(certificate);
  }

  static CURLcode AddToContext(CURL*, void* ssl_context, void* self) {
    auto* anchors = static_cast<TrustAnchors*>(self);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(ssl_context));
    for (X509* certificate : anchors->certificates) X509_STORE_add_cert(store, certificate);
    return CURLE_OK;
  }
};

WinHttpClient::WinHttpClient() : anchors_(std::make_unique<TrustAnchors>()) {
  InitCurlOnce();
}

WinHttpClient::WinHttpClient(const HttpClientOptions& options) : WinHttpClient() {
  if (options.extra_ca_bundle.empty()) return;
  std::string pem;
  if (ReadRegularFile(options.extra_ca_bundle, kMaxCaBundleBytes, &pem) != ReadFileResult::kRead) {
    anchors_->load_error = "cannot read the CA bundle " + options.extra_ca_bundle.string();
    return;
  }
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  while (bio != nullptr) {
    X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    if (certificate == nullptr) break;
    anchors_->certificates.push_back(certificate);
  }
  BIO_free(bio);
  if (anchors_->certificates.empty())
    anchors_->load_error = "no certificate in the CA bundle " + options.extra_ca_bundle.string();
}

WinHttpClient::~WinHttpClient() = default;

bool WinHttpClient::ca_bundle_loaded(std::string* message) const {
  *message = anchors_->load_error;
  return message->empty();
}

bool ValidateHttpRequest(const HttpRequest& request, HttpError* error) {
  const bool method_ok =
      std::find(std::begin(kMethods), std::end(kMethods), request.method) != std::end(kMethods);
  const uint32_t longest = std::max({request.resolve_timeout_ms, request.connect_timeout_ms,
                                     request.send_timeout_ms, request.receive_timeout_ms});
  if (!method_ok || longest > kHttpMaxTimeoutMs || request.max_response_bytes == 0 ||
      request.body.size() > kHttpMaxBodyBytes)
    return Fail(error, kHttpErrorInvalidArgument, kSendStage, kHttpArgumentsMessage);
  for (const auto& [name, value] : request.headers) {
    if (!ValidHeader(name, value))
      return Fail(error, kHttpErrorInvalidArgument, kSendStage, kHttpHeadersMessage);
  }
  HttpsUrl url;
  return ParseHttpsUrl(request.url, &url, error);
}

bool WinHttpClient::Send(const HttpRequest& request, HttpResponse* response,
                         HttpError* error) const {
  if (response == nullptr)
    return Fail(error, kHttpErrorInvalidArgument, kSendStage, kHttpArgumentsMessage);
  response->Clear();
  BufferSink sink(response, request.max_response_bytes);
  if (Stream(request, &sink, error)) return true;
  response->Clear();
  if (sink.too_large())
    Fail(error, kHttpErrorResponseTooLarge, kReadDataStage, kHttpTooLargeMessage);
  return false;
}

bool WinHttpClient::Stream(const HttpRequest& request, HttpBodySink* sink, HttpError* error) const {
  *error = HttpError{};
  if (!ValidateHttpRequest(request, error)) return false;

  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return Fail(error, kHttpErrorOutOfMemory, kOpenStage);
  CURL* h = curl.get();
  CurlTransfer transfer(request, sink);
  transfer.Attach(h);

  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, kHttpUserAgent);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  // Each exchange has its own connection, as each Send has its own session.
  curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
  const uint64_t connect_ms =
      uint64_t{request.resolve_timeout_ms} + uint64_t{request.connect_timeout_ms};
  if (request.resolve_timeout_ms != 0 && request.connect_timeout_ms != 0)
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_ms));
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kStreamBufferBytes);

  if (request.method == "HEAD") {
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else if (request.method == "POST" || !request.body.empty()) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    if (request.method != "POST")
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  } else if (request.method != "GET") {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }

  // Only the caller's headers: libcurl's own Expect and form Content-Type are taken out.
  curl_slist* raw_list = nullptr;
  bool has_content_type = false;
  for (const auto& [name, value] : request.headers) {
    if (strcasecmp(name.c_str(), "Content-Type") == 0) has_content_type = true;
    // "Name;" is libcurl's spelling of a header with an empty value.
    const std::string line = value.empty() ? name + ";" : name + ": " + value;
    raw_list = curl_slist_append(raw_list, line.c_str());
  }
  raw_list = curl_slist_append(raw_list, "Expect:");
  if (!has_content_type) raw_list = curl_slist_append(raw_list, "Content-Type:");
  std::unique_ptr<curl_slist, SlistDeleter> headers(raw_list);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

  if (!anchors_->certificates.empty()) {
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &TrustAnchors::AddToContext);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, anchors_.get());
  }
  curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &CurlTransfer::OpenSocketCallback);
  curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, &CurlTransfer::CloseSocketCallback);
  curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlTransfer::HeaderCallback);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlTransfer::WriteCallback);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::ProgressCallback);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

  if (request.cancellation != nullptr) request.cancellation->Register(&transfer);
  const CURLcode result = transfer.aborted() ? CURLE_ABORTED_BY_CALLBACK : curl_easy_perform(h);
  if (request.cancellation != nullptr) request.cancellation->Unregister(&transfer);

  if (result == CURLE_OK) {
    if (transfer.phase() != Phase::kReadingBody)
      return Fail(error, kHttpErrorInvalidServerResponse, kReceiveResponseStage);
    return true;
  }
  Phase phase = transfer.phase();
  if (phase == Phase::kSending && result != CURLE_SEND_ERROR) {
    // Sent whole and then nothing came back: the failure belongs to receiving the response.
    curl_off_t pretransfer = 0;
    curl_off_t uploaded = 0;
    curl_easy_getinfo(h, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    curl_easy_getinfo(h, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    if (pretransfer > 0 && uploaded >= static_cast<curl_off_t>(request.body.size()))
      phase = Phase::kAwaitingResponse;
  }
  uint32_t code = CodeOf(result);
  if (transfer.aborted() || transfer.sink_stopped()) code = kHttpErrorCancelled;
  if (transfer.timed_out()) code = kHttpErrorTimeout;
  return Fail(error, code, StageOf(phase));
}

}  // namespace kavi::win
