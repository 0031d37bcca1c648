// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "net/http_cancellation.h"
#include "net/https_url.h"
#include "net/sha256.h"
#include "net/win_http_client.h"
#include "tests/net/net_test_support.h"

namespace kavi::win::testing {
namespace {

using Clock = std::chrono::steady_clock;

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(service().port(), 0);
    service().ClearFaults();
  }
  KaviServiceProcess& service() { return SharedService(); }
  HttpRequest Get(const std::string& path) {
    HttpRequest request;
    request.url = service().base_url() + path;
    return request;
  }
  bool Send(const HttpRequest& request) { return client_.Send(request, &response_, &error_); }

  WinHttpClient client_{SharedService().ClientOptions()};
  HttpResponse response_;
  HttpError error_;
};

TEST_F(HttpClientTest, UrlsThatAreNotPlainHttpsAreRefusedBeforeConnecting) {
  const std::string authority = "127.0.0.1:" + std::to_string(service().port());
  struct Case {
    std::string url;
    std::string stage;
    std::string message;
  };
  const Case cases[] = {
      {"http://" + authority + "/files/x", "ParseHttpsUrl", kUrlNotHttpsMessage},
      {"https://user@" + authority + "/files/x", "ParseHttpsUrl", kUrlNotHttpsMessage},
      {"https://user:pw@" + authority + "/files/x", "ParseHttpsUrl", kUrlNotHttpsMessage},
      {"https://" + authority + "/files/x#part", "ParseHttpsUrl", kUrlInvalidMessage},
      {"https://" + authority + "/files/\nx", "ParseHttpsUrl", kUrlInvalidMessage},
      {"", "ParseHttpsUrl", kUrlInvalidMessage},
      {"ftp://" + authority + "/x", "ParseHttpsUrl", kUrlNotHttpsMessage},
      {"not a url", "WinHttpCrackUrl", ""},
      // "%39" is the host "9" once decoded, and "9" written again is the address 0.0.0.9.
      {"https:/%39", "WinHttpCrackUrl", ""},
  };
  for (const Case& c : cases) {
    HttpRequest request;
    request.url = c.url;
    EXPECT_FALSE(Send(request)) << c.url;
    EXPECT_EQ(error_.stage, c.stage) << c.url;
    EXPECT_EQ(error_.message, c.message) << c.url;
    if (c.stage == "ParseHttpsUrl") {
      EXPECT_EQ(error_.code, kHttpErrorInvalidArgument) << c.url;
    }
  }
  EXPECT_EQ(service().Requests(), "[]");  // none of them reached the service
}

TEST(HttpsUrl, TakesAnHttpsUrlApart) {
  HttpsUrl url;
  HttpError error;
  ASSERT_TRUE(ParseHttpsUrl("https://Example.com", &url, &error));
  EXPECT_EQ(url.host, "Example.com");
  EXPECT_EQ(url.port, 443);
  EXPECT_EQ(url.path, "/");
  ASSERT_TRUE(ParseHttpsUrl("https://[::1]:8443/a/b?x=1&y=2", &url, &error));
  EXPECT_EQ(url.host, "[::1]");
  EXPECT_EQ(url.port, 8443);
  EXPECT_EQ(url.path, "/a/b?x=1&y=2");
}

TEST_F(HttpClientTest, ArgumentAndHeaderChecks) {
  struct Case {
    const char* what;
    void (*edit)(HttpRequest*);
    const char* message;
  };
  const Case cases[] = {
      {"unknown method", [](HttpRequest* r) { r->method = "TRACE"; }, kHttpArgumentsMessage},
      {"lower-case method", [](HttpRequest* r) { r->method = "get"; }, kHttpArgumentsMessage},
      {"resolve 600001", [](HttpRequest* r) { r->resolve_timeout_ms = 600001; },
       kHttpArgumentsMessage},
      {"receive 600001", [](HttpRequest* r) { r->receive_timeout_ms = 600001; },
       kHttpArgumentsMessage},
      {"no response room", [](HttpRequest* r) { r->max_response_bytes = 0; },
       kHttpArgumentsMessage},
      {"name with a space",
       [](HttpRequest* r) {
         r->headers = {{"X Bad", "v"}};
       },
       kHttpHeadersMessage},
      {"name with a colon",
       [](HttpRequest* r) {
         r->headers = {{"X:Bad", "v"}};
       },
       kHttpHeadersMessage},
      {"empty name",
       [](HttpRequest* r) {
         r->headers = {{"", "v"}};
       },
       kHttpHeadersMessage},
      {"value with a line feed",
       [](HttpRequest* r) {
         r->headers = {{"X-A", "a\nb"}};
       },
       kHttpHeadersMessage},
      {"value with a carriage return",
       [](HttpRequest* r) {
         r->headers = {{"X-A", "a\rb"}};
       },
       kHttpHeadersMessage},
      {"value with a tab",
       [](HttpRequest* r) {
         r->headers = {{"X-A", "a\tb"}};
       },
       kHttpHeadersMessage},
  };
  for (const Case& c : cases) {
    HttpRequest request = Get("/files/none");
    c.edit(&request);
    EXPECT_FALSE(Send(request)) << c.what;
    EXPECT_EQ(error_.code, kHttpErrorInvalidArgument) << c.what;
    EXPECT_EQ(error_.stage, "Send") << c.what;
    EXPECT_EQ(error_.message, c.message) << c.what;
  }

  // The limits themselves are accepted, and so is every token character in a name.
  HttpRequest request = Get("/files/none");
  request.resolve_timeout_ms = request.connect_timeout_ms = 600000;
  request.send_timeout_ms = request.receive_timeout_ms = 600000;
  request.headers = {{"X-!#$%&'*+-.^_`|~09az", "any value: is fine"}, {"X-Empty", ""}};
  ASSERT_TRUE(Send(request)) << error_.stage << " " << error_.code;
  EXPECT_EQ(response_.status, 404u);
}

TEST_F(HttpClientTest, ARedirectComesBackUnchanged) {
  ASSERT_EQ(service().Fault(R"({"path": "/files/old", "status": 302})"), 200u);
  ASSERT_TRUE(Send(Get("/files/old")));
  EXPECT_EQ(response_.status, 302u);
  EXPECT_TRUE(response_.raw_headers.starts_with("HTTP/1.1 302"));
  EXPECT_NE(response_.raw_headers.find("Location: /moved\r\n"), std::string::npos);
  EXPECT_TRUE(response_.raw_headers.ends_with("\r\n\r\n"));
  const std::string log = service().Requests();
  EXPECT_NE(log.find("/files/old"), std::string::npos);
  EXPECT_EQ(log.find("/moved"), std::string::npos);  // not followed
}

TEST_F(HttpClientTest, BodyLimitIsExactAndChecksBeforeKeeping) {
  const std::string content = ServeFile("limit.bin", 100000);
  HttpRequest request = Get("/files/limit.bin");
  request.max_response_bytes = content.size();
  ASSERT_TRUE(Send(request));
  EXPECT_EQ(response_.status, 200u);
  EXPECT_EQ(response_.body, content);

  request.max_response_bytes = content.size() - 1;
  EXPECT_FALSE(Send(request));
  EXPECT_EQ(error_.code, kHttpErrorResponseTooLarge);
  EXPECT_EQ(error_.stage, "WinHttpReadData");
  EXPECT_EQ(error_.message, kHttpTooLargeMessage);
  EXPECT_TRUE(response_.body.empty());
  EXPECT_EQ(response_.status, 0u);

  // An oversized answer to a small limit: one byte more than allowed is refused.
  ASSERT_EQ(service().Fault(R"({"path": "/files/limit.bin", "oversize_by": 1})"), 200u);
  request.max_response_bytes = content.size();
  EXPECT_FALSE(Send(request));
  EXPECT_EQ(error_.code, kHttpErrorResponseTooLarge);
}

TEST_F(HttpClientTest, StatusHeadAndPost) {
  ASSERT_EQ(service().Fault(R"({"path": "/files/busy", "status": 503})"), 200u);
  ASSERT_TRUE(Send(Get("/files/busy")));  // any status is a completed exchange
  EXPECT_EQ(response_.status, 503u);

  ServeFile("head.bin", 5000);
  HttpRequest head = Get("/files/head.bin");
  head.method = "HEAD";
  ASSERT_TRUE(Send(head));
  EXPECT_EQ(response_.status, 200u);
  EXPECT_NE(response_.raw_headers.find("Content-Length: 5000"), std::string::npos);
  EXPECT_TRUE(response_.body.empty());

  HttpRequest post = Get("/voice/polish");
  post.method = "POST";
  post.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
  post.body = R"({"text": "好,Kavi"})";
  ASSERT_TRUE(Send(post));
  EXPECT_EQ(response_.status, 200u);
  EXPECT_EQ(response_.body, R"({"_res":"ok","text":"好，Kavi"})");
}

TEST_F(HttpClientTest, AnUntrustedCertificateFailsAtTheTlsStage) {
  const WinHttpClient system_only;
  EXPECT_FALSE(system_only.Send(Get("/files/none"), &response_, &error_));
  EXPECT_EQ(error_.code, kHttpErrorSecureFailure);
  EXPECT_EQ(error_.stage, "WinHttpSendRequest");

  TempDir other;
  TestCertificates foreign;
  ASSERT_TRUE(MakeTestCertificates(other.path(), &foreign, "Another CA"));
  HttpClientOptions options;
  options.extra_ca_bundle = foreign.ca;
  const WinHttpClient wrong_anchor(options);
  EXPECT_FALSE(wrong_anchor.Send(Get("/files/none"), &response_, &error_));
  EXPECT_EQ(error_.code, kHttpErrorSecureFailure);

  options.extra_ca_bundle = other.path() / "missing.pem";
  const WinHttpClient unreadable(options);
  std::string message;
  EXPECT_FALSE(unreadable.ca_bundle_loaded(&message));
  EXPECT_NE(message.find("missing.pem"), std::string::npos);
}

// Counts the body as it streams in and tells when the first piece has come.
class CountingSink : public HttpBodySink {
 public:
  bool OnHeaders(uint32_t, const std::string&) override { return true; }
  bool OnBody(const char*, size_t size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_ += size;
    arrived_.notify_all();
    return true;
  }
  bool WaitForBody(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return bytes_ > 0; });
  }
  size_t bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  size_t bytes_ = 0;
};

TEST_F(HttpClientTest, ACancelInMidBodyEndsTheTransferAtOnce) {
  constexpr size_t kFile = 1 << 20;     // 256 chunks of 4 KiB 50 ms apart: 12.8 s of body
  constexpr size_t kTlsRecord = 16384;  // what one read may still hand over
  ServeFile("slow.bin", kFile);
  ASSERT_EQ(service().Fault(R"({"path": "/files/slow.bin", "slow_chunk_bytes": 4096,
                                "slow_interval_ms": 50})"),
            200u);
  HttpCancellation cancellation;
  HttpRequest request = Get("/files/slow.bin");
  request.cancellation = &cancellation;
  CountingSink sink;
  bool sent = true;
  Clock::time_point returned;
  std::thread transfer([&] {
    sent = client_.Stream(request, &sink, &error_);
    returned = Clock::now();
  });
  ASSERT_TRUE(sink.WaitForBody(std::chrono::seconds(20)));  // into the body
  const size_t at_cancel = sink.bytes();
  const Clock::time_point cancelled = Clock::now();
  cancellation.Cancel();
  transfer.join();
  EXPECT_FALSE(sent);
  EXPECT_EQ(error_.code, kHttpErrorCancelled);
  EXPECT_EQ(error_.stage, "WinHttpReadData");
  // Nothing came after the cancel but a piece already under way, and the transfer did not wait
  // for the seconds of body that were left.
  EXPECT_LE(sink.bytes(), at_cancel + kTlsRecord);
  EXPECT_LT(sink.bytes(), kFile);
  EXPECT_LT(returned - cancelled, std::chrono::seconds(2));

  // A cancelled token fails the next request at once; re-armed, it lets requests through.
  request = Get("/files/none");
  request.cancellation = &cancellation;
  EXPECT_FALSE(Send(request));
  EXPECT_EQ(error_.code, kHttpErrorCancelled);
  EXPECT_EQ(error_.stage, "WinHttpSendRequest");
  cancellation.Rearm();
  EXPECT_TRUE(Send(request));
}

TEST_F(HttpClientTest, ASilentServerTimesOutWhileTheResponseIsAwaited) {
  ASSERT_EQ(service().Fault(R"({"path": "/files/late", "delay_ms": 4000})"), 200u);
  HttpRequest request = Get("/files/late");
  request.receive_timeout_ms = 1000;
  EXPECT_FALSE(Send(request));
  EXPECT_EQ(error_.code, kHttpErrorTimeout);
  EXPECT_EQ(error_.stage, "WinHttpReceiveResponse");
}

TEST_F(HttpClientTest, ATruncatedBodyIsAConnectionFailureWhileReading) {
  ServeFile("cut.bin", 200000);
  ASSERT_EQ(service().Fault(R"({"path": "/files/cut.bin", "truncate_after": 70000})"), 200u);
  EXPECT_FALSE(Send(Get("/files/cut.bin")));
  EXPECT_EQ(error_.stage, "WinHttpReadData");
  EXPECT_EQ(error_.code, kHttpErrorConnection);
  EXPECT_TRUE(response_.body.empty());
}

// A transfer that records its aborts, for the token's own rules.
class RecordingTransfer : public HttpTransferHandle {
 public:
  void Abort() override { ++aborts; }
  int aborts = 0;
};

TEST(HttpCancellation, RegisterUnregisterCancelAndRearm) {
  HttpCancellation token;
  RecordingTransfer first, second;
  token.Register(&first);
  EXPECT_TRUE(token.Unregister(&first));
  EXPECT_EQ(first.aborts, 0);

  token.Register(&first);
  token.Cancel();
  EXPECT_EQ(first.aborts, 1);
  EXPECT_FALSE(token.Unregister(&first));  // Cancel took it: not aborted twice
  EXPECT_TRUE(token.IsCancelled());

  token.Register(&second);  // already cancelled: aborted at once, not kept
  EXPECT_EQ(second.aborts, 1);
  EXPECT_FALSE(token.Unregister(&second));
  token.Rearm();
  EXPECT_FALSE(token.IsCancelled());

  token.Register(&first);
  token.Cancel();
  token.Rearm();  // Cancel emptied the list, so re-arming works
  EXPECT_FALSE(token.IsCancelled());
}

TEST(Sha256, BytesAndFiles) {
  std::string hex, error;
  ASSERT_TRUE(Sha256Bytes("abc", &hex, &error));
  EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  ASSERT_TRUE(Sha256Bytes("", &hex, &error));
  EXPECT_EQ(hex, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  // A file over several 1 MiB chunks hashes as its bytes do.
  TempDir dir;
  std::string content(3 * kSha256ChunkBytes + 17, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  WriteFile(dir.path() / "f", content);
  std::string from_bytes, from_file;
  ASSERT_TRUE(Sha256Bytes(content, &from_bytes, &error));
  ASSERT_TRUE(Sha256File(dir.path() / "f", &from_file, &error));
  EXPECT_EQ(from_file, from_bytes);
  EXPECT_TRUE(error.empty());

  EXPECT_FALSE(Sha256File(dir.path() / "missing", &hex, &error));
  EXPECT_EQ(error, kSha256OpenMessage);
  EXPECT_TRUE(hex.empty());
  EXPECT_FALSE(Sha256File(dir.path(), &hex, &error));  // a folder cannot be read
  EXPECT_EQ(error, kSha256ReadMessage);

  // Fed in pieces, and from a file's first bytes, the hash is the whole content's.
  Sha256Hasher hasher;
  const size_t prefix = kSha256ChunkBytes + 5;
  ASSERT_TRUE(hasher.AddFilePrefix(dir.path() / "f", prefix, &error)) << error;
  for (size_t at = prefix; at < content.size(); at += 4096)
    ASSERT_TRUE(hasher.Add(content.data() + at, std::min<size_t>(4096, content.size() - at), &error));
  ASSERT_TRUE(hasher.Finish(&hex, &error));
  EXPECT_EQ(hex, from_bytes);
  EXPECT_FALSE(hasher.Add("x", 1, &error));  // finished: Reset first
  ASSERT_TRUE(hasher.Reset(&error));
  ASSERT_TRUE(hasher.Add("abc", 3, &error));
  ASSERT_TRUE(hasher.Finish(&hex, &error));
  EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  // A file shorter than the prefix asked for fails, and so does everything after.
  ASSERT_TRUE(hasher.Reset(&error));
  EXPECT_FALSE(hasher.AddFilePrefix(dir.path() / "f", content.size() + 1, &error));
  EXPECT_EQ(error, kSha256ReadMessage);
  EXPECT_FALSE(hasher.Finish(&hex, &error));
  EXPECT_TRUE(hex.empty());
}

}  // namespace
}  // namespace kavi::win::testing
