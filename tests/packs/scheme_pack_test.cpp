// SPDX-License-Identifier: Apache-2.0
// Scheme packs against a real kavi-service on loopback: the manifest's rules, installs that
// verify before they touch the pack directory, a commit that rolls back, crashes at every step
// of an install, removal, cancellation, and the jobs that restart the engine.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <thread>

#include "net/sha256.h"
#include "net/win_http_client.h"
#include "packs/pack_manifest.h"
#include "packs/pack_transaction.h"
#include "packs/scheme_pack_jobs.h"
#include "packs/scheme_pack_manager.h"
#include "tests/common/file_faults.h"
#include "tests/common/kavi_service_process.h"
#include "text/safe_file_name.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// The manifest's rules.

constexpr char kDigest[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string FileMembers(const std::string& name, const std::string& url, const std::string& sha,
                        const std::string& bytes) {
  return "{\"name\":\"" + name + "\",\"url\":\"" + url + "\",\"sha256\":\"" + sha +
         "\",\"bytes\":" + bytes + "}";
}

std::string FileJson(const std::string& name) {
  return FileMembers(name, "https://h/" + name, kDigest, "10");
}

std::string PackJson(const std::string& id, const std::string& files) {
  return "{\"id\":\"" + id + "\",\"files\":[" + files + "]}";
}

std::string Manifest(const std::string& packs) {
  return "{\"_res\":\"ok\",\"packs\":[" + packs + "]}";
}

// `count` entries made by `entry` from their index, joined by commas.
std::string Many(int count, const std::function<std::string(const std::string&)>& entry) {
  std::string out;
  for (int i = 0; i < count; ++i) out += (i ? "," : "") + entry(std::to_string(i));
  return out;
}

std::string ManyPacks(int count) {
  return Many(count,
              [](const std::string& i) { return PackJson("p" + i, FileJson("p" + i + ".a")); });
}

std::string ManyFiles(int count) {
  return Many(count, [](const std::string& i) { return FileJson("a.f" + i); });
}

// A manifest of pack "a" with one file, "a.x".
std::string OneFile(const std::string& url, const std::string& sha, const std::string& bytes) {
  return Manifest(PackJson("a", FileMembers("a.x", url, sha, bytes)));
}

struct ManifestCase {
  const char* what;
  std::string text;
  const char* error;  // nullptr: valid
};

TEST(PackManifest, EachRuleRejectsWithItsErrorAndLeavesTheListAlone) {
  const std::string ok_file = FileJson("a.dict");
  const std::string url_4097 = "https://" + std::string(4089, 'u');
  const std::string url_4096 = "https://" + std::string(4088, 'u');
  const ManifestCase cases[] = {
      {"valid", Manifest(PackJson("a", ok_file)), nullptr},
      {"missing _res", "{\"packs\":[" + PackJson("a", ok_file) + "]}", nullptr},
      {"non-string _res", "{\"_res\":1,\"packs\":[]}", nullptr},
      {"128 packs", Manifest(ManyPacks(128)), nullptr},
      {"256 files", Manifest(PackJson("a", ManyFiles(256))), nullptr},
      {"largest file", OneFile("https://h", kDigest, "536870912"), nullptr},
      {"shortest url", OneFile("https://a", kDigest, "1"), nullptr},
      {"longest url", OneFile(url_4096, kDigest, "1"), nullptr},
      {"url with a space", OneFile("https://h/a b", kDigest, "1"), nullptr},
      {"stem LPT0", Manifest(PackJson("lpt0", FileJson("lpt0.x"))), nullptr},
      {"not JSON", "{\"packs\":", kManifestInvalidRoot},
      {"array root", "[]", kManifestInvalidRoot},
      {"not ok", "{\"_res\":\"busy\",\"packs\":[]}", kManifestNotOk},
      {"no packs", "{\"_res\":\"ok\"}", kManifestInvalidPackList},
      {"packs not array", "{\"packs\":{}}", kManifestInvalidPackList},
      {"129 packs", Manifest(ManyPacks(129)), kManifestInvalidPackList},
      {"pack not object", Manifest("[]"), kManifestInvalidPackId},
      {"upper-case id", Manifest(PackJson("Zrm", FileJson("Zrm.a"))), kManifestInvalidPackId},
      {"dash in id", Manifest(PackJson("a-b", FileJson("a-b.a"))), kManifestInvalidPackId},
      {"81-byte id", Manifest(PackJson(std::string(81, 'a'), ok_file)), kManifestInvalidPackId},
      {"duplicate id", Manifest(PackJson("a", ok_file) + "," + PackJson("a", ok_file)),
       kManifestInvalidPackId},
      {"no files", Manifest("{\"id\":\"a\"}"), kManifestInvalidPackFiles},
      {"0 files", Manifest(PackJson("a", "")), kManifestInvalidPackFiles},
      {"257 files", Manifest(PackJson("a", ManyFiles(257))), kManifestInvalidPackFiles},
      {"file not object", Manifest(PackJson("a", "1")), kManifestInvalidPackFile},
      {"no bytes",
       Manifest(PackJson("a", "{\"name\":\"a.x\",\"url\":\"https://h/x\",\"sha256\":\"" +
                                  std::string(kDigest) + "\"}")),
       kManifestInvalidPackFile},
      {"0 bytes", OneFile("https://h", kDigest, "0"), kManifestInvalidPackFile},
      {"512 MiB + 1", OneFile("https://h", kDigest, "536870913"), kManifestInvalidPackFile},
      {"fractional bytes", OneFile("https://h", kDigest, "1.5"), kManifestInvalidPackFile},
      {"plain http", OneFile("http://h/x", kDigest, "1"), kManifestInvalidPackFile},
      {"url with a tab", OneFile("https://h/a\\tb", kDigest, "1"), kManifestInvalidPackFile},
      {"4097-byte url", OneFile(url_4097, kDigest, "1"), kManifestInvalidPackFile},
      {"63 digits", OneFile("https://h", std::string(63, 'a'), "1"), kManifestInvalidPackFile},
      {"not hex", OneFile("https://h", std::string(64, 'g'), "1"), kManifestInvalidPackFile},
      {"duplicate name", Manifest(PackJson("a", ok_file + "," + ok_file)),
       kManifestInvalidPackFile},
      {"another pack's file", Manifest(PackJson("a", FileJson("b.dict"))),
       kManifestInvalidPackFile},
      {"unsafe name", Manifest(PackJson("a", FileJson("a..dict"))), kManifestInvalidPackFile},
  };
  for (const ManifestCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PackRecord> packs = {{"kept", "", {}}};
    std::string error = "stale";
    const bool ok = ParsePackManifest(c.text, &packs, &error);
    if (c.error == nullptr) {
      EXPECT_TRUE(ok) << error;
      EXPECT_TRUE(error.empty());
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error, c.error);
      ASSERT_EQ(packs.size(), 1u);
      EXPECT_EQ(packs[0].id, "kept");
    }
  }
  std::string error;
  EXPECT_FALSE(ParsePackManifest(Manifest(""), nullptr, &error));
  EXPECT_EQ(error, kManifestMissingOutput);
}

TEST(PackManifest, ReadsEveryFieldAndFoldsTheDigestToLowerCase) {
  std::string upper = kDigest;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  std::vector<PackRecord> packs;
  std::string error;
  ASSERT_TRUE(ParsePackManifest(
      "{\"packs\":[{\"id\":\"zrm\",\"displayName\":\"自然碼\",\"files\":[" +
          FileMembers("zrm.main.dict", "https://h/zrm", upper, "2259789") + "]}]}",
      &packs, &error))
      << error;
  ASSERT_EQ(packs.size(), 1u);
  EXPECT_EQ(packs[0].display_name, "自然碼");
  ASSERT_EQ(packs[0].files.size(), 1u);
  EXPECT_EQ(packs[0].files[0], (PackFile{"zrm.main.dict", "https://h/zrm", kDigest, 2259789}));
}

TEST(SafeFileName, AcceptsPlainNamesOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"zrm.main.dict", true}, {"a", true},        {"LPT0.x", true},    {"COM10.x", true},
      {"con_x.dict", true},    {"a-b_c.D9", true}, {"", false},         {" ", false},
      {"a..b", false},         {".a", false},      {"a.", false},       {"a.part", false},
      {"a.complete", false},   {"CON", false},     {"con.dict", false}, {"Com1.txt", false},
      {"lpt9", false},         {"NUL.a.b", false}, {"a/b", false},      {"a\\b", false},
      {"é.x", false},
  };
  for (const auto& [name, safe] : cases) EXPECT_EQ(IsSafeFileName(name), safe) << name;
  EXPECT_TRUE(IsSafeFileName(std::string(255, 'a')));
  EXPECT_FALSE(IsSafeFileName(std::string(256, 'a')));
}

// ---------------------------------------------------------------------------------------------
// Installs against kavi-service: its "/packs/scheme" is a folder whose index.json each test
// writes, and the files lie in "/files".

KaviServiceProcess& PackService() {
  static KaviServiceProcess* service = [] {
    auto* started = new KaviServiceProcess();
    started->AddStaticTree("/packs/scheme", started->home() / "manifest");
    fs::create_directories(started->home() / "manifest");
    EXPECT_TRUE(started->Start());
    std::atexit([] { PackService().Stop(); });
    return started;
  }();
  return *service;
}

struct ServedFile {
  std::string name;
  std::string content;
};

std::string Sha256(const std::string& bytes) {
  std::string hex, error;
  Sha256Bytes(bytes, &hex, &error);
  return hex;
}

// Every file and folder under `dir` with its content: a tree compared byte for byte.
std::map<std::string, std::string> Tree(const fs::path& dir) {
  std::map<std::string, std::string> tree;
  if (!fs::exists(dir)) return tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(entry.path(), dir).string();
    tree[name] = entry.is_directory() ? "<dir>" : ReadFile(entry.path());
  }
  return tree;
}

class SchemePackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(PackService().port(), 0);
    PackService().ClearFaults();
    pack_dir_ = dir_.path() / "build";
  }

  // Publishes the packs: their files in /files/<id>/, the manifest listing them. `edit` may
  // change a file's record (its digest or size) after it was computed.
  void Publish(const std::map<std::string, std::vector<ServedFile>>& packs,
               const std::function<void(PackFile*)>& edit = nullptr) {
    std::string list;
    for (const auto& [id, files] : packs) {
      std::string entries;
      for (const ServedFile& file : files) {
        WriteFile(PackService().files_dir() / id / file.name, file.content);
        PackFile record{file.name, PackService().base_url() + "/files/" + id + "/" + file.name,
                        Sha256(file.content), file.content.size()};
        if (edit) edit(&record);
        entries +=
            (entries.empty() ? "" : ",") +
            FileMembers(record.name, record.url, record.sha256, std::to_string(record.bytes));
      }
      list += (list.empty() ? "" : ",") + PackJson(id, entries);
    }
    WriteFile(PackService().home() / "manifest" / "index.json", Manifest(list));
  }

  SchemePackManager Manager() {
    return SchemePackManager(
        pack_dir_,
        [this](const HttpRequest& request, HttpResponse* response, HttpError* error) {
          return client_.Send(request, response, error);
        },
        [] { return PackService().base_url(); },
        [this](const std::string& id) { installed_.push_back(id); });
  }

  bool Install(const std::string& id, HttpCancellation* cancellation = nullptr) {
    return Manager().Install(id, &message_, cancellation);
  }

  // Pack "alpha" in two versions: v2 changes a.x, adds a.new and keeps a.z.
  static std::vector<ServedFile> AlphaV1() {
    return {{"alpha.x", "x one"}, {"alpha.z", std::string(70000, 'z')}};
  }
  static std::vector<ServedFile> AlphaV2() {
    return {{"alpha.x", "x two"},
            {"alpha.new", std::string(200000, 'n')},
            {"alpha.z", std::string(70000, 'z')}};
  }
  // alpha v1 and beta installed, then alpha v2 published.
  void InstallV1ThenPublishV2() {
    Publish({{"alpha", AlphaV1()}, {"beta", {{"beta.schema.yaml", "beta"}}}});
    ASSERT_TRUE(Install("alpha")) << message_;
    ASSERT_TRUE(Install("beta")) << message_;
    Publish({{"alpha", AlphaV2()}, {"beta", {{"beta.schema.yaml", "beta"}}}});
  }

  TempDir dir_;
  fs::path pack_dir_;
  WinHttpClient client_{PackService().ClientOptions()};
  std::string message_;
  std::vector<std::string> installed_;
};

TEST_F(SchemePackTest, InstallsEveryFileWithItsMarkerAndLeavesNoStaging) {
  Publish({{"alpha", AlphaV2()}});
  PackInstallTimings timings;
  ASSERT_TRUE(Manager().Install("alpha", &message_, nullptr, &timings)) << message_;
  EXPECT_TRUE(message_.empty());
  EXPECT_EQ(installed_, std::vector<std::string>{"alpha"});
  std::map<std::string, std::string> expected = {{"alpha.complete", "ok\n"}};
  for (const ServedFile& file : AlphaV2()) expected[file.name] = file.content;
  EXPECT_EQ(Tree(pack_dir_), expected);
  EXPECT_GT(timings.download_ns, 0u);
  EXPECT_GT(timings.verify_ns, 0u);
  EXPECT_GT(timings.commit_ns, 0u);
}

struct FailureCase {
  const char* what;
  std::string fault;                    // a fault switched on for the install
  std::function<void(PackFile*)> edit;  // a change to the published manifest
  std::string id = "alpha";
  std::string message;  // the message, or its beginning
};

TEST_F(SchemePackTest, AFailedInstallLeavesThePackDirectoryExactlyAsBefore) {
  const FailureCase cases[] = {
      {"truncated file", R"({"path": "/files/alpha/alpha.new", "truncate_after": 1000})", nullptr,
       "alpha", kPackNetworkMessage},
      {"wrong hash", "",
       [](PackFile* f) {
         if (f->name == "alpha.z") f->sha256 = Sha256("something else");
       },
       "alpha", kPackFileHashMessage},
      {"one byte short", "",
       [](PackFile* f) {
         if (f->name == "alpha.new") f->bytes += 1;
       },
       "alpha", kPackFileStatusMessage},
      {"file status", R"({"path": "/files/alpha/alpha.z", "status": 503})", nullptr, "alpha",
       kPackFileStatusMessage},
      {"manifest status", R"({"path": "/packs/scheme", "status": 500})", nullptr, "alpha",
       "方案包清單 HTTP 500"},
      {"not listed", "", nullptr, "gamma", kPackNotListedMessage},
      {"invalid id", "", nullptr, "Alpha", kPackIdInvalidMessage},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    pack_dir_ = dir.path() / "build";
    PackService().ClearFaults();
    InstallV1ThenPublishV2();
    if (c.edit) Publish({{"alpha", AlphaV2()}}, c.edit);
    if (!c.fault.empty()) {
      ASSERT_EQ(PackService().Fault(c.fault), 200u);
    }
    const auto before = Tree(pack_dir_);
    EXPECT_FALSE(Install(c.id));
    EXPECT_TRUE(message_.starts_with(c.message)) << message_;
    EXPECT_EQ(Tree(pack_dir_), before);
  }
}

TEST_F(SchemePackTest, AnInvalidManifestIsRefusedBeforeAnyDownload) {
  Publish({{"alpha", AlphaV1()}}, [](PackFile* f) { f->url = "http://127.0.0.1/x"; });
  PackService().ClearFaults();
  EXPECT_FALSE(Install("alpha"));
  EXPECT_EQ(message_, std::string(kPackManifestInvalidMessage) + kManifestInvalidPackFile);
  EXPECT_EQ(PackService().Requests().find("/files/"), std::string::npos);
  EXPECT_FALSE(fs::exists(pack_dir_ / "alpha.complete"));
}

// Fails the move of one staged file onto its place in the pack directory.
class FailCommitOf : public FileSystemSeam {
 public:
  explicit FailCommitOf(fs::path target) : target_(std::move(target)) {}
  int Rename(const char* from, const char* to) override {
    if (fs::path(from).parent_path().filename().string().starts_with(kPackStagingPrefix) &&
        fs::path(to) == target_) {
      errno = EIO;
      return -1;
    }
    return FileSystemSeam::Rename(from, to);
  }

 private:
  fs::path target_;
};

TEST_F(SchemePackTest, AFailedCommitOfTheSecondFileRestoresTheFirstAndDropsTheMarker) {
  InstallV1ThenPublishV2();
  auto before = Tree(pack_dir_);
  before.erase("alpha.complete");  // removed before the commit, as an interrupted install must
  // alpha.x is replaced first, alpha.new (new) second, alpha.z third: when the third fails, the
  // second, new one, goes again.
  for (const char* failing : {"alpha.new", "alpha.z"}) {
    SCOPED_TRACE(failing);
    FailCommitOf seam(pack_dir_ / failing);
    {
      ScopedFileSystemSeam scope(&seam);
      EXPECT_FALSE(Install("alpha"));
    }
    EXPECT_EQ(message_, kPackCommitMessage);
    EXPECT_EQ(Tree(pack_dir_), before);
  }
}

// A crash at any step of any file write or move of an install: after the recovery that
// start-up runs, the pack directory holds the old files (the marker may be gone) or the whole
// new pack, and no staging directory.
TEST_F(SchemePackTest, ACrashAtAnyStepLeavesTheOldOrTheNewPackAfterRecovery) {
  InstallV1ThenPublishV2();
  auto old_tree = Tree(pack_dir_);
  fs::path work = dir_.path() / "work";
  std::map<std::string, std::string> new_tree = old_tree;
  new_tree.erase("alpha.x");
  for (const ServedFile& file : AlphaV2()) new_tree[file.name] = file.content;
  auto old_without_marker = old_tree;
  old_without_marker.erase("alpha.complete");

  int crashes = 0;
  for (AtomicWriteStep step : kEveryWriteStep) {
    for (int occurrence = 1;; ++occurrence) {
      SCOPED_TRACE(std::to_string(static_cast<int>(step)) + "/" + std::to_string(occurrence));
      fs::remove_all(work);
      fs::copy(pack_dir_, work, fs::copy_options::recursive);
      std::swap(pack_dir_, work);
      const bool crashed = EndProcessDuring(
          step, [&] { Install("alpha"); }, occurrence);
      RecoverInterruptedInstalls(pack_dir_);
      const auto after = Tree(pack_dir_);
      std::swap(pack_dir_, work);
      EXPECT_TRUE(after == old_tree || after == old_without_marker || after == new_tree)
          << "files: " << after.size();
      if (!crashed) break;
      ++crashes;
    }
  }
  // Each step was reached by several writes: the staged files, the journal, the moves.
  EXPECT_GT(crashes, 20);
}

TEST_F(SchemePackTest, RemovalDeletesOnlyThePacksOwnFiles) {
  WriteFile(pack_dir_ / "ab.schema.yaml", "ab");
  WriteFile(pack_dir_ / "ab.complete", "ok\n");
  WriteFile(pack_dir_ / "ab_c.schema.yaml", "ab_c");
  WriteFile(pack_dir_ / "abc.dict", "abc");
  WriteFile(pack_dir_ / "ab.folder" / "kept", "a folder is not a pack file");
  ASSERT_TRUE(Manager().Remove("ab", &message_)) << message_;
  EXPECT_EQ(Tree(pack_dir_),
            (std::map<std::string, std::string>{{"ab.folder", "<dir>"},
                                                {"ab.folder/kept", "a folder is not a pack file"},
                                                {"ab_c.schema.yaml", "ab_c"},
                                                {"abc.dict", "abc"}}));
  EXPECT_FALSE(Manager().Remove("a.b", &message_));
  EXPECT_EQ(message_, kPackIdInvalidMessage);

  pack_dir_ = dir_.path() / "missing";
  EXPECT_TRUE(Manager().Remove("ab", &message_)) << message_;
  EXPECT_FALSE(fs::exists(pack_dir_));
}

TEST_F(SchemePackTest, TheInstalledSchemeNeedsItsFileAndItsPacksMarker) {
  Publish({{"alpha", {{"alpha.schema.yaml", "a"}, {"alpha.fast.schema.yaml", "f"}}}});
  SchemePackManager manager = Manager();
  EXPECT_FALSE(manager.IsInstalled("alpha"));
  ASSERT_TRUE(manager.Install("alpha", &message_, nullptr)) << message_;
  EXPECT_TRUE(manager.IsInstalled("alpha"));
  EXPECT_TRUE(manager.IsInstalled("alpha.fast"));
  EXPECT_FALSE(manager.IsInstalled("alpha.slow"));
  fs::remove(pack_dir_ / "alpha.complete");
  EXPECT_FALSE(manager.IsInstalled("alpha"));
}

TEST_F(SchemePackTest, ACancelMidDownloadStopsTheInstallAndChangesNothing) {
  InstallV1ThenPublishV2();
  const auto before = Tree(pack_dir_);
  ASSERT_EQ(PackService().Fault(R"({"path": "/files/alpha/alpha.new", "slow_chunk_bytes": 4096,
                                    "slow_interval_ms": 50})"),
            200u);
  HttpCancellation cancellation;
  std::atomic<bool> done{false};
  bool ok = true;
  std::thread install([&] {
    ok = Install("alpha", &cancellation);
    done = true;
  });
  // Cancel once the slow file is being sent.
  for (int i = 0; i < 500 && PackService().Requests().find("alpha.new") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  cancellation.Cancel();
  install.join();
  EXPECT_FALSE(ok);
  EXPECT_TRUE(message_.starts_with(kPackNetworkMessage)) << message_;
  EXPECT_NE(message_.find(std::to_string(kHttpErrorCancelled)), std::string::npos) << message_;
  EXPECT_EQ(Tree(pack_dir_), before);
}

TEST_F(SchemePackTest, AJobRestartsTheEngineOnlyAfterASuccess) {
  Publish({{"alpha", AlphaV1()}});
  SchemePackManager manager = Manager();
  HttpCancellation cancellation;
  int restarts = 0;
  bool restart_ok = true;
  SchemePackJobs jobs(&manager, &cancellation, [&](std::string* message) {
    ++restarts;
    if (!restart_ok) *message = "engine restart could not load its scheme";
    return restart_ok;
  });
  auto run = [&](bool install, const std::string& id) {
    std::atomic<int> result{-1};
    std::string message;
    EXPECT_TRUE(jobs.StartJob(
        install, id, [&](bool ok) { result = ok; }, &message));
    jobs.Join();
    return result.load();
  };
  EXPECT_EQ(run(true, "alpha"), 1);
  EXPECT_EQ(restarts, 1);
  EXPECT_TRUE(jobs.IsInstalled("alpha") == false);  // the pack has no scheme file
  EXPECT_EQ(run(true, "missing"), 0);
  EXPECT_EQ(restarts, 1);
  EXPECT_EQ(jobs.last_message(), kPackNotListedMessage);
  restart_ok = false;
  EXPECT_EQ(run(false, "alpha"), 0);
  EXPECT_EQ(restarts, 2);
  EXPECT_EQ(jobs.last_message(), "engine restart could not load its scheme");
  EXPECT_FALSE(fs::exists(pack_dir_ / "alpha.x"));

  // A cancel left over from an earlier job does not stop the next one.
  restart_ok = true;
  jobs.CancelJob();
  EXPECT_EQ(run(true, "alpha"), 1);
}

}  // namespace
}  // namespace kavi::win::testing
