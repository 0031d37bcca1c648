// SPDX-License-Identifier: Apache-2.0
// Voice model downloads from kavi-service on loopback, as the settings page runs them: the
// controller's model job over the model store, the manifest at "/voice/models" and the model
// file under "/files", with the service's fault switches slowing or spoiling the transfer.
#include <gtest/gtest.h>

#include "net/sha256.h"
#include "tests/voice/scripted_capture.h"
#include "tests/voice/voice_test_support.h"
#include "update/file_downloader.h"
#include "voice/voice_controller.h"

namespace kavi::win::testing {
namespace {

constexpr size_t kModelBytes = 3 * kDownloadChunkBytes + 4321;
constexpr char kSlowModel[] =
    R"({"path": "/files/m.gguf", "slow_chunk_bytes": 65536, "slow_interval_ms": 20})";

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class VoiceModelDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(VoiceService().port(), 0);
    VoiceService().ClearFaults();
    model_.resize(kModelBytes);
    for (size_t i = 0; i < model_.size(); ++i) model_[i] = static_cast<char>((i * 167) >> 3);
    WriteFile(VoiceService().files_dir() / "m.gguf", model_);
    std::string error;
    Sha256Bytes(model_, &sha256_, &error);
    Publish(sha256_);
    VoiceControllerOptions options;
    options.models_dir = models_;
    options.temp_dir = dir_.path() / "temp";
    options.log_dir = dir_.path() / "logs";
    options.service = Locator();
    options.microphone = ScriptedFactory(std::make_shared<CaptureScript>());
    controller_ = std::make_unique<VoiceController>(std::move(options));
  }
  // The manifest the service answers: the model for senseVoice with this digest.
  void Publish(const std::string& sha256) {
    WriteFile(VoiceService().home() / "voice-models" / "index.json",
              ManifestJson({kSenseVoiceEngine}, "m.gguf",
                           VoiceService().base_url() + "/files/m.gguf", sha256, kModelBytes));
  }
  static ServiceLocator Locator() {
    return [] { return VoiceServiceEndpoints(); };
  }
  bool WaitStatus(VoiceStatus status) {
    return Eventually([&] { return controller_->Status() == static_cast<uint32_t>(status); });
  }
  // Starts a model job once the last one has ended (its status comes a moment before).
  bool StartJob(bool download) {
    for (int i = 0; i < 2000; ++i) {
      if (controller_->StartModelJob(download, kSenseVoiceEngine, &error_)) return true;
      if (error_ != kVoiceBusyMessage) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  // Starts a download and waits until a part of it is on disk.
  void StartPartway() {
    ASSERT_EQ(VoiceService().Fault(kSlowModel), 200u);
    ASSERT_TRUE(StartJob(true)) << error_;
    EXPECT_EQ(controller_->Status(), uint32_t(VoiceStatus::kModelJob));
    ASSERT_TRUE(Eventually([&] { return controller_->Progress() > 0; }));
    ASSERT_LT(controller_->Progress(), 100u);
    ASSERT_EQ(controller_->Status(), uint32_t(VoiceStatus::kModelJob));
  }
  std::filesystem::path Model() const { return models_ / kSenseVoiceEngine / "m.gguf"; }
  std::filesystem::path Part() const { return Model().string() + kPartSuffix; }

  TempDir dir_;
  std::filesystem::path models_ = dir_.path() / "models";
  std::string model_, sha256_, error_;
  std::unique_ptr<VoiceController> controller_;
};

TEST_F(VoiceModelDownloadTest, ADownloadShowsProgressAndTheModelThenResolves) {
  StartPartway();
  ASSERT_TRUE(WaitStatus(VoiceStatus::kSucceeded));
  EXPECT_EQ(controller_->Progress(), 100u);
  EXPECT_EQ(ReadFile(Model()), model_);
  EXPECT_FALSE(std::filesystem::exists(Part()));
  EXPECT_EQ(ReadFile(models_ / kManifestFileName),
            ReadFile(VoiceService().home() / "voice-models" / "index.json"));
  std::filesystem::path resolved;
  ASSERT_TRUE(VoiceModelStore(models_, nullptr).Resolve(kSenseVoiceEngine, &resolved, &error_))
      << error_;
  EXPECT_EQ(resolved, Model());

  // Whole already: the manifest is fetched again, the model is not.
  VoiceService().ClearFaults();
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  ASSERT_TRUE(VoiceModelStore(models_, Locator())
                  .Download(
                      kSenseVoiceEngine, nullptr, nullptr,
                      [&](uint64_t done, uint64_t total) {
                        progress.push_back({done, total});
                      },
                      &error_))
      << error_;
  EXPECT_EQ(progress, (std::vector<std::pair<uint64_t, uint64_t>>{{kModelBytes, kModelBytes}}));
  EXPECT_EQ(Count(VoiceService().Requests(), "/voice/models"), 1u);
  EXPECT_EQ(Count(VoiceService().Requests(), "m.gguf"), 0u);
}

TEST_F(VoiceModelDownloadTest, CancelKeepsThePartForLaterOrRemovesIt) {
  StartPartway();
  EXPECT_TRUE(controller_->CancelModelJob(false));
  ASSERT_TRUE(WaitStatus(VoiceStatus::kModelJobCancelled));
  EXPECT_FALSE(controller_->CancelModelJob(false));
  EXPECT_FALSE(std::filesystem::exists(Model()));
  const uintmax_t kept = std::filesystem::file_size(Part());
  EXPECT_GT(kept, 0u);

  // The next download goes on from there.
  VoiceService().ClearFaults();
  ASSERT_TRUE(StartJob(true)) << error_;
  ASSERT_TRUE(WaitStatus(VoiceStatus::kSucceeded));
  EXPECT_EQ(ReadFile(Model()), model_);
  EXPECT_NE(VoiceService().Requests().find("\"range\":\"bytes=" + std::to_string(kept) + "-\""),
            std::string::npos);

  // Removing it, then cancelling a new download with its part removed: nothing is left.
  ASSERT_TRUE(StartJob(false)) << error_;
  ASSERT_TRUE(WaitStatus(VoiceStatus::kSucceeded));
  EXPECT_FALSE(std::filesystem::exists(Model().parent_path()));
  StartPartway();
  EXPECT_TRUE(controller_->CancelModelJob(true));
  ASSERT_TRUE(WaitStatus(VoiceStatus::kIdle));
  EXPECT_FALSE(std::filesystem::exists(Part()));
  EXPECT_FALSE(std::filesystem::exists(Model()));
}

TEST_F(VoiceModelDownloadTest, FailuresNameTheirCauseAndLeaveNoModel) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string message;
  } cases[] = {
      {"hash mismatch", [&] { Publish(std::string(64, 'a')); }, kDownloadHashMessage},
      {"manifest refused",
       [] { VoiceService().Fault(R"({"path": "/voice/models", "status": 503})"); },
       kManifestDownloadMessage},
      {"manifest not json",
       [] { WriteFile(VoiceService().home() / "voice-models" / "index.json", "<html>"); },
       kManifestUnusableMessage},
      {"model refused", [] { VoiceService().Fault(R"({"path": "/files/m.gguf", "status": 404})"); },
       std::string(kDownloadStatusMessage) + "404"},
  };
  for (const Case& c : cases) {
    VoiceService().ClearFaults();
    Publish(sha256_);
    c.arrange();
    ASSERT_TRUE(StartJob(true)) << c.name << ": " << error_;
    EXPECT_TRUE(WaitStatus(VoiceStatus::kFailed)) << c.name;
    EXPECT_EQ(VoiceModelStore(models_, Locator())
                  .Download(kSenseVoiceEngine, nullptr, nullptr, nullptr, &error_),
              false)
        << c.name;
    EXPECT_EQ(error_, c.message) << c.name;
    EXPECT_FALSE(std::filesystem::exists(Model())) << c.name;
    EXPECT_FALSE(std::filesystem::exists(Part())) << c.name;
  }
  // Nothing resolves from a failed download.
  std::filesystem::path resolved;
  EXPECT_FALSE(VoiceModelStore(models_, nullptr).Resolve(kSenseVoiceEngine, &resolved, &error_));
}

}  // namespace
}  // namespace kavi::win::testing
