// SPDX-License-Identifier: Apache-2.0
// The update checker: the feed's rules, version order, the package's control file, and checks
// against kavi-service on loopback with real Debian packages (dpkg-deb) signed by certificates
// made at run time (openssl), under an injected clock.
#include <gtest/gtest.h>

#include <cstdlib>

#include "net/sha256.h"
#include "net/win_http_client.h"
#include "platform/signature/detached_signature.h"
#include "tests/net/net_test_support.h"
#include "update/deb_control.h"
#include "update/file_downloader.h"
#include "update/update_checker.h"
#include "update/update_feed.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;
constexpr char kDigest[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// An artifact with one member (key and JSON value) replaced.
std::string Artifact(const std::string& key = {}, const std::string& value = {}) {
  std::vector<std::pair<std::string, std::string>> members = {
      {"architecture", "\"x64\""},      {"file", "\"kavi.deb\""},
      {"url", "\"https://h/k.deb\""},   {"sha256", "\"" + std::string(kDigest) + "\""},
      {"bytes", "10"}};
  std::string out;
  for (auto& [name, json] : members)
    out += (out.empty() ? "{\"" : ",\"") + name + "\":" + (name == key ? value : json);
  return out + "}";
}

std::string Feed(const std::string& version, const std::string& build,
                 const std::string& artifacts) {
  return "{\"version\":\"" + version + "\",\"buildNumber\":" + build + ",\"artifacts\":[" +
         artifacts + "]}";
}

TEST(UpdateFeed, EachRuleRejectsWithItsReason) {
  const std::string ok = Artifact();
  std::string nine;
  for (int i = 0; i < 9; ++i) nine += (i ? "," : "") + ok;
  const struct {
    const char* what;
    std::string text;
    const char* error;  // nullptr: valid
  } cases[] = {
      {"valid", Feed("1.2.3", "7", ok), nullptr},
      {"largest numbers", Feed("65535.0.65535", "65535", ok), nullptr},
      {"empty", "", kFeedEmpty},
      {"over 1 MiB", std::string(kMaxUpdateFeedBytes + 1, ' '), kFeedEmpty},
      {"not JSON", "{", kFeedInvalidRoot},
      {"array", "[]", kFeedInvalidRoot},
      {"two components", Feed("1.2", "7", ok), kFeedInvalidVersion},
      {"four components", Feed("1.2.3.4", "7", ok), kFeedInvalidVersion},
      {"two dots", Feed("1..3", "7", ok), kFeedInvalidVersion},
      {"trailing dot", Feed("1.2.3.", "7", ok), kFeedInvalidVersion},
      {"letter", Feed("1.2.3a", "7", ok), kFeedInvalidVersion},
      {"component 65536", Feed("1.65536.3", "7", ok), kFeedInvalidVersion},
      {"negative build", Feed("1.2.3", "-1", ok), kFeedInvalidBuild},
      {"build 65536", Feed("1.2.3", "65536", ok), kFeedInvalidBuild},
      {"string build", Feed("1.2.3", "\"7\"", ok), kFeedInvalidBuild},
      {"no artifacts", Feed("1.2.3", "7", ""), kFeedInvalidArtifacts},
      {"nine artifacts", Feed("1.2.3", "7", nine), kFeedInvalidArtifacts},
      {"x86", Feed("1.2.3", "7", Artifact("architecture", "\"x86\"")), kFeedInvalidArtifact},
      {"path in file", Feed("1.2.3", "7", Artifact("file", "\"../kavi.deb\"")),
       kFeedInvalidArtifact},
      {"backslash", Feed("1.2.3", "7", Artifact("file", "\"a\\\\b\"")), kFeedInvalidArtifact},
      {"plain http", Feed("1.2.3", "7", Artifact("url", "\"http://h/k.deb\"")),
       kFeedInvalidArtifact},
      {"63 digits", Feed("1.2.3", "7", Artifact("sha256", "\"" + std::string(63, 'a') + "\"")),
       kFeedInvalidArtifact},
      {"0 bytes", Feed("1.2.3", "7", Artifact("bytes", "0")), kFeedInvalidArtifact},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateFeed feed;
    std::string error;
    EXPECT_EQ(ParseUpdateFeed(c.text, &feed, &error), c.error == nullptr);
    if (c.error != nullptr) {
      EXPECT_EQ(error, c.error);
    }
  }
}

TEST(UpdateFeed, VersionsCompareByNumberThenBuild) {
  std::vector<uint32_t> v;
  ASSERT_TRUE(ParseVersion("99999999.0", &v));
  EXPECT_EQ(v, (std::vector<uint32_t>{1000000, 0}));  // saturates
  EXPECT_FALSE(ParseVersion(".1", &v));
  EXPECT_FALSE(ParseVersion("", &v));
  const struct {
    std::vector<uint32_t> feed;
    uint32_t feed_build;
    std::vector<uint32_t> running;
    uint32_t running_build;
    bool newer;
  } cases[] = {
      {{1, 2, 3}, 7, {1, 2, 3}, 7, false}, {{1, 2, 3}, 8, {1, 2, 3}, 7, true},
      {{1, 2, 10}, 0, {1, 2, 9}, 9, true}, {{1, 2, 3}, 9, {1, 3, 0}, 0, false},
      {{1, 2, 0}, 1, {1, 2}, 0, true},     {{1, 2, 0}, 0, {1, 2}, 0, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsNewerVersion(c.feed, c.feed_build, c.running, c.running_build), c.newer);
}

TEST(DebControl, FieldsAndVersions) {
  DebControl control;
  ParseControlFields(
      "Package: kavi\nVersion: 0.6.0-3\r\nDescription: x\n Version: 9.9.9\nArchitecture:  amd64 \n",
      &control);
  EXPECT_EQ(control.package, "kavi");
  EXPECT_EQ(control.version, "0.6.0-3");
  EXPECT_EQ(control.architecture, "amd64");

  const struct {
    const char* text;
    bool ok;
    std::vector<uint32_t> version;
    uint32_t build;
  } cases[] = {
      {"0.6.0-3", true, {0, 6, 0}, 3}, {"1.2.3", true, {1, 2, 3}, 0}, {"1.2", false, {}, 0},
      {"1.2.3.4", false, {}, 0},       {"1:1.2.3", false, {}, 0},     {"1.2.3-", false, {}, 0},
      {"1.2.3-b1", false, {}, 0},      {"1.2.65536", false, {}, 0},   {"1..3", false, {}, 0},
  };
  for (const auto& c : cases) {
    std::vector<uint32_t> version;
    uint32_t build = 99;
    EXPECT_EQ(ParseDebianVersion(c.text, &version, &build), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(version, c.version) << c.text;
      EXPECT_EQ(build, c.build) << c.text;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Against kavi-service.

bool RunQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// A certificate authority and code-signing certificates under it, made with the openssl tool.
class Signers {
 public:
  explicit Signers(const fs::path& dir) : dir_(dir) {
    ok_ = RunQuietly("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 "
              "-subj '/CN=Update Test CA' -keyout '" + (dir_ / "ca.key").string() + "' -out '" +
              ca().string() + "'");
  }
  fs::path ca() const { return dir_ / "ca.pem"; }
  // Makes "<name>.pem" and "<name>.key" for the common name `cn`.
  bool Make(const std::string& name, const std::string& cn) {
    const std::string base = (dir_ / name).string();
    std::ofstream(base + ".ext") << "extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature\n";
    return ok_ &&
           RunQuietly("openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj '/CN=" + cn +
               "' -keyout '" + base + ".key' -out '" + base + ".csr'") &&
           RunQuietly("openssl x509 -req -in '" + base + ".csr' -CA '" + ca().string() + "' -CAkey '" +
               (dir_ / "ca.key").string() + "' -CAcreateserial -days 2 -extfile '" + base +
               ".ext' -out '" + base + ".pem'");
  }
  bool Sign(const std::string& name, const fs::path& file) {
    std::string error;
    const std::string base = (dir_ / name).string();
    return SignDetached(file, base + ".pem", base + ".key", file.string() + kSignatureSuffix,
                        &error);
  }

 private:
  fs::path dir_;
  bool ok_ = false;
};

struct Package {
  std::string version = "0.6.0-3";
  std::string architecture = "amd64";
  std::string name = "kavi";
  std::string signer = "norvale";
};

class UpdateCheckerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(SharedService().port(), 0);
    SharedService().ClearFaults();
    release_ = SharedService().files_dir() / "release" / "linux";
    fs::remove_all(release_);
    fs::create_directories(release_);
    static bool made = false;
    if (!made) {
      ASSERT_TRUE(signers().Make("norvale", kUpdateSignerName));
      ASSERT_TRUE(signers().Make("other", "Someone Else"));
      made = true;
    }
  }

  static Signers& signers() {
    static TempDir* dir = new TempDir();
    static Signers* made = new Signers(dir->path());
    return *made;
  }

  // Builds, signs and publishes a package, and the feed that announces it as `feed_version`
  // build `feed_build` for `feed_architecture`.
  void Publish(const Package& package, const std::string& feed_version = "0.6.0",
               const std::string& feed_build = "3", const std::string& feed_architecture = "x64") {
    TempDir tree;
    fs::create_directories(tree.path() / "DEBIAN");
    fs::create_directories(tree.path() / "usr/lib/kavi");
    std::ofstream(tree.path() / "DEBIAN/control")
        << "Package: " << package.name << "\nVersion: " << package.version
        << "\nArchitecture: " << package.architecture
        << "\nMaintainer: Kavi <kavi@kavi.invalid>\nDescription: Kavi\n test package\n";
    std::ofstream(tree.path() / "usr/lib/kavi/KaviServer") << std::string(300000, 'k');
    const fs::path deb = release_ / "kavi_update.deb";
    ASSERT_TRUE(RunQuietly("dpkg-deb --root-owner-group --build '" + tree.path().string() + "' '" +
                    deb.string() + "'"));
    ASSERT_TRUE(signers().Sign(package.signer, deb));
    std::string sha256, error;
    ASSERT_TRUE(Sha256File(deb, &sha256, &error));
    WriteFile(release_ / "ver.dat",
              "{\"version\":\"" + feed_version + "\",\"buildNumber\":" + feed_build +
                  ",\"artifacts\":[{\"architecture\":\"" + feed_architecture +
                  "\",\"file\":\"kavi_update.deb\",\"url\":\"" + SharedService().base_url() +
                  "/files/release/linux/kavi_update.deb\",\"sha256\":\"" + sha256 +
                  "\",\"bytes\":" + std::to_string(fs::file_size(deb)) + "}]}");
  }

  UpdateCheckerOptions Options() {
    UpdateCheckerOptions options;
    options.updates_dir = dir_.path() / "updates";
    options.running_version = {0, 5, 1};
    options.architecture = "x64";
    options.base_url = [] { return SharedService().base_url() + "/files"; };
    options.send = [this](const HttpRequest& request, HttpResponse* response, HttpError* error) {
      return client_.Send(request, response, error);
    };
    options.download = [this](const DownloadRequest& request, std::string* message) {
      return FileDownloader(client_).Download(request, message);
    };
    options.trust_anchors = {signers().ca()};
    options.now = [this] { return now_; };
    options.notify = [this](const UpdateResult& result) { notices_.push_back(result); };
    return options;
  }

  UpdateResult Check() { return UpdateChecker(Options()).CheckOnce(); }

  TempDir dir_;
  fs::path release_;
  WinHttpClient client_{SharedService().ClientOptions()};
  std::chrono::system_clock::time_point now_ = std::chrono::system_clock::now();
  std::vector<UpdateResult> notices_;
};

TEST_F(UpdateCheckerTest, ANewerSignedPackageIsDownloadedVerifiedAndRecordedOnceADay) {
  Publish({});
  const fs::path updates = dir_.path() / "updates";
  fs::create_directories(updates);
  WriteFile(updates / "kavi_old.deb", "an earlier package");
  WriteFile(updates / "kavi_old.deb.part", "half of one");

  UpdateChecker checker(Options());
  UpdateResult result;
  ASSERT_TRUE(checker.RunIfDue(&result));
  ASSERT_EQ(result.outcome, UpdateResult::Outcome::kStaged) << result.message;
  EXPECT_EQ(result.version, "0.6.0");
  EXPECT_EQ(result.build_number, 3u);
  EXPECT_EQ(result.installer, updates / "kavi_update.deb");
  EXPECT_EQ(ReadFile(result.installer), ReadFile(release_ / "kavi_update.deb"));
  PendingUpdate pending;
  ASSERT_TRUE(ReadPendingUpdate(updates, &pending));
  EXPECT_EQ(ReadFile(updates / kAvailableFileName),
            "0.6.0\r\n3\r\n" + result.sha256 + "\r\n" + result.installer.string() + "\r\n");
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].installer, result.installer);
  EXPECT_FALSE(fs::exists(updates / "kavi_old.deb"));
  EXPECT_FALSE(fs::exists(updates / "kavi_old.deb.part"));

  // 23 hours later nothing is asked; at 24 hours the feed is read again.
  const auto feed_reads = [] { return Count(SharedService().Requests(), "ver.dat"); };
  const size_t reads = feed_reads();
  now_ += std::chrono::hours(23);
  EXPECT_FALSE(checker.RunIfDue());
  EXPECT_EQ(feed_reads(), reads);
  now_ += std::chrono::hours(1);
  ASSERT_TRUE(checker.RunIfDue(&result));
  EXPECT_EQ(feed_reads(), reads + 1);

  // Running the new version: up to date, and the next check is a day later again.
  UpdateCheckerOptions current = Options();
  current.running_version = {0, 6, 0};
  current.running_build = 3;
  now_ += std::chrono::hours(24);
  UpdateChecker up_to_date(current);
  ASSERT_TRUE(up_to_date.RunIfDue(&result));
  EXPECT_EQ(result.outcome, UpdateResult::Outcome::kUpToDate);
  EXPECT_FALSE(up_to_date.Due());

  current.enabled = false;
  now_ += std::chrono::hours(48);
  EXPECT_FALSE(UpdateChecker(current).Due());
}

TEST_F(UpdateCheckerTest, EachRefusalHasItsMessage) {
  const struct {
    const char* what;
    Package package;
    std::string feed_build = "3";
    std::string feed_architecture = "x64";
    std::string message;
  } cases[] = {
      {"wrong signer", {.signer = "other"}, "3", "x64", kUpdateSignerNameMessage},
      {"version mismatch", {.version = "0.6.0-4"}, "3", "x64", kUpdateVersionMismatchMessage},
      {"malformed version", {.version = "0.6"}, "3", "x64", kUpdateVersionInvalidMessage},
      {"no package for this machine", {}, "3", "arm64", kUpdateNoArchitectureMessage},
      {"package for another machine", {.architecture = "arm64"}, "3", "x64",
       kUpdateIdentityMessage},
      {"another product", {.name = "notkavi"}, "3", "x64", kUpdateIdentityMessage},
      {"feed error", {}, "\"three\"", "x64", kUpdateFeedInvalidMessage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Publish(c.package, "0.6.0", c.feed_build, c.feed_architecture);
    const UpdateResult result = Check();
    EXPECT_EQ(result.outcome, UpdateResult::Outcome::kFailed);
    EXPECT_EQ(result.message, c.message);
    EXPECT_FALSE(fs::exists(dir_.path() / "updates" / kAvailableFileName));
  }

  // An altered package: the downloader refuses it; no signature: the signer is unreadable.
  Publish({});
  std::string bytes = ReadFile(release_ / "kavi_update.deb");
  bytes[bytes.size() / 2] ^= 1;
  WriteFile(release_ / "kavi_update.deb", bytes);
  EXPECT_EQ(Check().message, kDownloadHashMessage);
  Publish({});
  fs::remove(release_ / "kavi_update.deb.p7s");
  EXPECT_EQ(Check().message, kUpdateSignatureDownloadMessage);

  // A feed the service does not have, and a failed check that leaves no last-check.
  fs::remove(release_ / "ver.dat");
  UpdateChecker checker(Options());
  UpdateResult result;
  ASSERT_TRUE(checker.RunIfDue(&result));
  EXPECT_EQ(result.message, kUpdateFeedDownloadMessage);
  EXPECT_TRUE(checker.Due());
}

}  // namespace
}  // namespace kavi::win::testing
