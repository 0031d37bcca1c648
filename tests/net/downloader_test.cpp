// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "net/sha256.h"
#include "tests/net/net_test_support.h"
#include "update/file_downloader.h"

namespace kavi::win::testing {
namespace {

class DownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(SharedService().port(), 0);
    SharedService().ClearFaults();
  }

  // A file served at /files/NAME and a request for it into this test's folder.
  DownloadRequest Serve(const std::string& name, size_t size) {
    content_ = ServeFile(name, size);
    DownloadRequest request;
    request.url = SharedService().base_url() + "/files/" + name;
    request.target = dir_.path() / "out" / name;
    request.expected_size = size;
    std::string error;
    Sha256Bytes(content_, &request.expected_sha256, &error);
    return request;
  }
  static std::filesystem::path Part(const DownloadRequest& r) {
    return r.target.string() + kPartSuffix;
  }
  bool Download(const DownloadRequest& request) {
    return FileDownloader(client_).Download(request, &message_);
  }
  // How many requests the service saw for this path, and the Range headers it was sent.
  static std::string Log() { return SharedService().Requests(); }

  TempDir dir_;
  WinHttpClient client_{SharedService().ClientOptions()};
  std::string content_;
  std::string message_;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST_F(DownloaderTest, DownloadsVerifiesAndInstalls) {
  DownloadRequest request = Serve("whole.bin", 3 * kDownloadChunkBytes + 123);
  std::vector<uint64_t> progress;
  request.progress = [&](uint64_t done, uint64_t total) {
    EXPECT_EQ(total, content_.size());
    progress.push_back(done);
  };
  ASSERT_TRUE(Download(request)) << message_;
  EXPECT_TRUE(message_.empty());
  EXPECT_EQ(ReadFile(request.target), content_);
  EXPECT_FALSE(std::filesystem::exists(Part(request)));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), content_.size());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(DownloaderTest, ResumesAfterTheServerCutTheTransfer) {
  DownloadRequest request = Serve("resume.bin", 2 * kDownloadChunkBytes + 5000);
  ASSERT_EQ(SharedService().Fault(
                R"({"path": "/files/resume.bin", "truncate_after": 1500000, "times": 1})"),
            200u);
  EXPECT_FALSE(Download(request));
  EXPECT_EQ(message_, kDownloadIncompleteMessage);
  EXPECT_FALSE(std::filesystem::exists(request.target));
  const uintmax_t kept = std::filesystem::file_size(Part(request));
  EXPECT_GT(kept, 0u);
  EXPECT_LE(kept, 1500000u);
  EXPECT_EQ(ReadFile(Part(request)), content_.substr(0, kept));

  ASSERT_TRUE(Download(request)) << message_;
  EXPECT_EQ(ReadFile(request.target), content_);
  EXPECT_NE(Log().find("\"range\":\"bytes=" + std::to_string(kept) + "-\""), std::string::npos)
      << Log();
}

TEST_F(DownloaderTest, ResumesFromAWholeChunkAndWritesTheRestStraightToDisk) {
  // The part ends on a chunk boundary, so the chunks after it are written with O_DIRECT and the
  // short last one through the page cache; the file must still be the whole content.
  DownloadRequest request = Serve("aligned.bin", 3 * kDownloadChunkBytes + 4097);
  WriteFile(Part(request), content_.substr(0, kDownloadChunkBytes));
  ASSERT_TRUE(Download(request)) << message_;
  EXPECT_EQ(ReadFile(request.target), content_);
  EXPECT_NE(Log().find("\"range\":\"bytes=" + std::to_string(kDownloadChunkBytes) + "-\""),
            std::string::npos);
}

TEST_F(DownloaderTest, AServerIgnoringTheRangeRestartsFromTheStart) {
  DownloadRequest request = Serve("norange.bin", 700000);
  WriteFile(Part(request), content_.substr(0, 1000));
  ASSERT_EQ(SharedService().Fault(R"({"path": "/files/norange.bin", "ignore_range": true})"), 200u);
  ASSERT_TRUE(Download(request)) << message_;
  EXPECT_EQ(ReadFile(request.target), content_);
  EXPECT_NE(Log().find("\"range\":\"bytes=1000-\""), std::string::npos);  // it was asked
}

TEST_F(DownloaderTest, AHashMismatchDeletesThePartialFileAndKeepsTheTarget) {
  DownloadRequest request = Serve("hash.bin", 50000);
  WriteFile(request.target, "the previous version");
  request.expected_sha256 = std::string(64, 'A');
  EXPECT_FALSE(Download(request));
  EXPECT_EQ(message_, kDownloadHashMessage);
  EXPECT_FALSE(std::filesystem::exists(Part(request)));
  EXPECT_EQ(ReadFile(request.target), "the previous version");

  // The part kept from an earlier attempt counts: altered on disk, the resumed file fails too.
  request = Serve("altered.bin", 50000);
  std::string kept = content_.substr(0, 20000);
  kept[100] ^= 1;
  WriteFile(Part(request), kept);
  EXPECT_FALSE(Download(request));
  EXPECT_EQ(message_, kDownloadHashMessage);
  EXPECT_NE(Log().find("\"range\":\"bytes=20000-\""), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(request.target));
}

TEST_F(DownloaderTest, WhatThePartialFileAlreadyHolds) {
  // Complete already: verified and installed without asking the service.
  DownloadRequest request = Serve("complete.bin", 4096);
  WriteFile(Part(request), content_);
  ASSERT_TRUE(Download(request)) << message_;
  EXPECT_EQ(ReadFile(request.target), content_);
  EXPECT_EQ(Count(Log(), "complete.bin"), 0u);

  // Longer than the file: thrown away, and the download starts from the first byte.
  request = Serve("longer.bin", 4096);
  WriteFile(Part(request), content_ + "extra bytes");
  ASSERT_TRUE(Download(request)) << message_;
  EXPECT_EQ(ReadFile(request.target), content_);
  EXPECT_NE(Log().find("\"range\":\"\",\"target\":\"/files/longer.bin\""), std::string::npos);
}

TEST_F(DownloaderTest, StatusAnswersThatAreNotTheFile) {
  DownloadRequest request = Serve("status.bin", 1000);
  ASSERT_EQ(SharedService().Fault(R"({"path": "/files/status.bin", "status": 206})"), 200u);
  EXPECT_FALSE(Download(request));
  EXPECT_EQ(message_, kDownloadUnexpectedPartMessage);

  ASSERT_EQ(SharedService().Fault(R"({"path": "/files/status.bin", "status": 404})"), 200u);
  EXPECT_FALSE(Download(request));
  EXPECT_EQ(message_, std::string(kDownloadStatusMessage) + "404");

  ASSERT_EQ(SharedService().Fault(R"({"path": "/files/status.bin", "oversize_by": 10})"), 200u);
  EXPECT_FALSE(Download(request));
  EXPECT_EQ(message_, kDownloadWriteMessage);
  EXPECT_FALSE(std::filesystem::exists(request.target));
}

TEST_F(DownloaderTest, InvalidRequests) {
  const DownloadRequest good = Serve("args.bin", 10);
  struct Case {
    const char* what;
    void (*edit)(DownloadRequest*);
    const char* message;
  };
  const Case cases[] = {
      {"no url", [](DownloadRequest* r) { r->url.clear(); }, kDownloadInvalidMessage},
      {"no target", [](DownloadRequest* r) { r->target.clear(); }, kDownloadInvalidMessage},
      {"size 0", [](DownloadRequest* r) { r->expected_size = 0; }, kDownloadInvalidMessage},
      {"size 2^63", [](DownloadRequest* r) { r->expected_size = uint64_t{1} << 63; },
       kDownloadInvalidMessage},
      {"63-digit hash", [](DownloadRequest* r) { r->expected_sha256.pop_back(); },
       kDownloadInvalidMessage},
      {"hash not hex", [](DownloadRequest* r) { r->expected_sha256[3] = 'g'; },
       kDownloadInvalidMessage},
      {"http url", [](DownloadRequest* r) { r->url.replace(0, 5, "http"); }, kDownloadUrlMessage},
  };
  for (const Case& c : cases) {
    DownloadRequest request = good;
    c.edit(&request);
    EXPECT_FALSE(Download(request)) << c.what;
    EXPECT_EQ(message_, c.message) << c.what;
  }
}

TEST_F(DownloaderTest, CancellingKeepsThePartialFile) {
  DownloadRequest request = Serve("cancel.bin", 3 * kDownloadChunkBytes);
  ASSERT_EQ(SharedService().Fault(R"({"path": "/files/cancel.bin", "slow_chunk_bytes": 65536,
                                      "slow_interval_ms": 20})"),
            200u);
  HttpCancellation cancellation;
  request.cancellation = &cancellation;
  request.progress = [&](uint64_t, uint64_t) { cancellation.Cancel(); };  // after the 1st chunk
  EXPECT_FALSE(Download(request));
  EXPECT_EQ(message_, kDownloadCancelledMessage);
  EXPECT_EQ(std::filesystem::file_size(Part(request)), kDownloadChunkBytes);

  // A set cancel flag stops it before any transfer.
  SharedService().ClearFaults();
  cancellation.Rearm();
  request.cancellation = nullptr;
  request.progress = nullptr;
  std::atomic<uint8_t> flag{1};
  request.cancel_flag = &flag;
  EXPECT_FALSE(Download(request));
  EXPECT_EQ(message_, kDownloadCancelledMessage);
  EXPECT_EQ(Count(Log(), "cancel.bin"), 0u);
}

TEST_F(DownloaderTest, TwoProcessesDownloadingOneTargetTakeTurns) {
  DownloadRequest request = Serve("shared.bin", 2 * kDownloadChunkBytes);
  // Slow enough (about 1.3 s) that the second process starts while the first still downloads.
  ASSERT_EQ(SharedService().Fault(R"({"path": "/files/shared.bin", "slow_chunk_bytes": 65536,
                                      "slow_interval_ms": 40})"),
            200u);
  const std::filesystem::path helper =
      std::filesystem::path(KAVI_BINARY_DIR) / "tests" / "net" / "kavi_download_helper";
  const std::vector<std::string> args = {
      request.url, SharedService().certificates().ca.string(), request.target.string(),
      std::to_string(request.expected_size), request.expected_sha256};
  const pid_t first = SpawnChild(helper, args, {});
  for (int i = 0; i < 500 && !std::filesystem::exists(Part(request)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(std::filesystem::exists(Part(request)));  // the first one is under way
  const pid_t second = SpawnChild(helper, args, {});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int first_status = -1, second_status = -1;
  if (::waitpid(first, &first_status, WNOHANG) == 0) {
    // While the first holds the lock, the second has not asked the service.
    EXPECT_EQ(Count(Log(), "shared.bin"), 1u) << Log();
    ::waitpid(first, &first_status, 0);
  }
  ::waitpid(second, &second_status, 0);
  EXPECT_EQ(first_status, 0);
  EXPECT_EQ(second_status, 0);
  EXPECT_EQ(ReadFile(request.target), content_);
  EXPECT_EQ(Count(Log(), "shared.bin"), 2u) << Log();  // one after the other
}

}  // namespace
}  // namespace kavi::win::testing
