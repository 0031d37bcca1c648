// SPDX-License-Identifier: Apache-2.0
#include "server/profile/profile_registration.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <regex>

#include "server/profile/profile_ids.h"
#include "tests/common/file_faults.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::server {
namespace {
using testing::ScopedAtomicWriteFault;
namespace fs = std::filesystem;
using kavi::win::testing::ReadFile;
using kavi::win::testing::TempDir;
using kavi::win::testing::WriteFile;

constexpr uint32_t kGeneralFailureResult = 0x8007001F;

uint32_t Bits(int32_t result) {
  return static_cast<uint32_t>(result);
}

// The file registry with one chosen step failing with a chosen error code, and a record of the
// calls that reached it.
class FaultyRegistry : public ProfileRegistry {
 public:
  enum Step { kNone, kInstall, kOpen, kEnable, kSetDefault, kChangeLanguage, kActivate };

  FaultyRegistry(const fs::path& dir, Step failing, int error, Step also_failing = kNone)
      : real_(dir), failing_(failing), also_failing_(also_failing), error_(error) {}

  bool InstallLayoutOrTip(std::string_view profile, uint32_t flags, int* error) override {
    calls += "install ";
    return !Fails(kInstall, error) && real_.InstallLayoutOrTip(profile, flags, error);
  }
  bool Open(int* error) override {
    calls += "open ";
    return !Fails(kOpen, error) && real_.Open(error);
  }
  void Close() override { calls += "close "; }
  bool EnableLanguageProfile(std::string_view class_id, uint16_t language,
                             std::string_view profile_guid, bool enable, int* error) override {
    calls += "enable ";
    return !Fails(kEnable, error) &&
           real_.EnableLanguageProfile(class_id, language, profile_guid, enable, error);
  }
  bool SetDefaultLanguageProfile(uint16_t language, std::string_view class_id,
                                 std::string_view profile_guid, int* error) override {
    calls += "default ";
    return !Fails(kSetDefault, error) &&
           real_.SetDefaultLanguageProfile(language, class_id, profile_guid, error);
  }
  bool ChangeCurrentLanguage(uint16_t language, int* error) override {
    calls += "language ";
    return !Fails(kChangeLanguage, error) && real_.ChangeCurrentLanguage(language, error);
  }
  bool ActivateProfile(uint16_t language, std::string_view class_id, std::string_view profile_guid,
                       uint32_t flags, int* error) override {
    calls += "activate ";
    return !Fails(kActivate, error) &&
           real_.ActivateProfile(language, class_id, profile_guid, flags, error);
  }

  std::string calls;

 private:
  bool Fails(Step step, int* error) {
    if (step != failing_ && step != also_failing_) return false;
    *error = error_;
    return true;
  }

  FileProfileRegistry real_;
  Step failing_;
  Step also_failing_;
  int error_;
};

int32_t ActivateCapturingLog(ProfileRegistry& registry, std::string* log) {
  ::testing::internal::CaptureStderr();
  int32_t result = ActivateProfile(registry);
  *log = ::testing::internal::GetCapturedStderr();
  return result;
}

TEST(ProfileRegistrationTest, ResultsAreHresults) {
  EXPECT_EQ(Bits(HresultFromError(ENOENT)), 0x80070002u);
  EXPECT_EQ(Bits(HresultFromError(0)), kGeneralFailureResult);
  EXPECT_EQ(Bits(HresultFromError(0x12345)), 0x80072345u);
  EXPECT_EQ(ProfileModeExitCode(HresultFromError(EACCES)), HresultFromError(EACCES));
  EXPECT_EQ(ProfileModeExitCode(0), 0);
  EXPECT_TRUE(std::regex_match(
      ProfileString(), std::regex(R"(0x0804:(\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}){2})")));
  EXPECT_EQ(ProfileString(), std::string("0x0804:") + kTextServiceClassId + kLanguageProfileGuid);
}

TEST(ProfileRegistrationTest, ActivateRegistersAndRemoveForgets) {
  TempDir dir;
  fs::path registry = ProfileRegistryFolder(dir.path() / "Kavi");
  const std::string other =
      "0x0804:{00000000-0000-0000-0000-000000000001}{0000000A-0000-0000-0000-000000000000}";
  WriteFile(registry / "input-languages", other + "\n");
  WriteFile(registry / "enabled", other + "\n");
  WriteFile(registry / "default", other + "\n0x0409:{1}{2}\n");

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ActivateProfile(registry), 0);
  EXPECT_EQ(ActivateProfile(registry), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  const std::string mine = ProfileString();
  EXPECT_EQ(ReadFile(registry / "input-languages"), mine + "\n" + other + "\n");
  EXPECT_EQ(ReadFile(registry / "enabled"), other + "\n" + mine + "\n");
  EXPECT_EQ(ReadFile(registry / "default"), "0x0409:{1}{2}\n" + mine + "\n");
  EXPECT_EQ(ReadFile(registry / "current-language"), "0x0804\n");
  EXPECT_EQ(ReadFile(registry / "active"), mine + " 0x20000005\n");

  EXPECT_EQ(RemoveProfile(registry), 0);
  EXPECT_EQ(ReadFile(registry / "input-languages"), other + "\n");
  EXPECT_EQ(ReadFile(registry / "enabled"), other + "\n");
  EXPECT_EQ(ReadFile(registry / "default"), "0x0409:{1}{2}\n");
  EXPECT_EQ(ReadFile(registry / "active"), "");
  EXPECT_FALSE(fs::exists(registry / "active.tmp"));
  // Removing what is not there succeeds, as removing an absent layout does.
  EXPECT_EQ(RemoveProfile(registry), 0);
}

TEST(ProfileRegistrationTest, OptionalStepsLogAndActivationGoesOn) {
  TempDir dir;
  std::string log;
  FaultyRegistry no_default(dir.path() / "a", FaultyRegistry::kSetDefault, EACCES);
  EXPECT_EQ(ActivateCapturingLog(no_default, &log), 0);
  EXPECT_EQ(log, "[Kavi] 無法把霜楓設為預設語言 profile（繼續激活）\n");
  EXPECT_EQ(no_default.calls, "install open enable default language activate close ");
  EXPECT_EQ(ReadFile(dir.path() / "a" / "active"), ProfileString() + " 0x20000005\n");

  FaultyRegistry neither(dir.path() / "b", FaultyRegistry::kSetDefault, 0,
                         FaultyRegistry::kChangeLanguage);
  EXPECT_EQ(ActivateCapturingLog(neither, &log), 0);
  EXPECT_EQ(log,
            "[Kavi] 無法把霜楓設為預設語言 profile（繼續激活）\n"
            "[Kavi] 無法切換目前輸入語言（繼續激活）\n");
  EXPECT_FALSE(fs::exists(dir.path() / "b" / "current-language"));
  EXPECT_TRUE(fs::exists(dir.path() / "b" / "active"));

  // The layout-or-tip result is not the activation's.
  FaultyRegistry no_install(dir.path() / "c", FaultyRegistry::kInstall, EIO);
  EXPECT_EQ(ActivateCapturingLog(no_install, &log), 0);
  EXPECT_EQ(log, "");
}

TEST(ProfileRegistrationTest, OtherFailuresEndTheSequenceWithTheirResult) {
  TempDir dir;
  std::string log;
  const struct {
    FaultyRegistry::Step failing;
    int error;
    uint32_t result;
    const char* calls;
  } cases[] = {
      {FaultyRegistry::kOpen, EACCES, 0x8007000Du, "install open "},
      {FaultyRegistry::kEnable, EIO, 0x80070005u, "install open enable close "},
      {FaultyRegistry::kActivate, 0, kGeneralFailureResult,
       "install open enable default language activate close "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.calls);
    FaultyRegistry registry(dir.path(), c.failing, c.error);
    EXPECT_EQ(Bits(ActivateCapturingLog(registry, &log)), c.result);
    EXPECT_EQ(registry.calls, c.calls);
    EXPECT_EQ(log, "");
  }

  FaultyRegistry no_uninstall(dir.path(), FaultyRegistry::kInstall, ENOSPC);
  EXPECT_EQ(Bits(RemoveProfile(no_uninstall)), 0x8007001Cu);

  // A list that cannot be written fails with the write's error and keeps its lines.
  const fs::path registry = dir.path() / "registry";
  WriteFile(registry / "enabled", "0x0409:{1}{2}\n");
  {
    ScopedAtomicWriteFault fault(AtomicWriteStep::kWrite);
    EXPECT_EQ(Bits(ActivateProfile(registry)), 0x80070005u);
  }
  EXPECT_EQ(ReadFile(registry / "enabled"), "0x0409:{1}{2}\n");
  EXPECT_FALSE(fs::exists(registry / "enabled.tmp"));
  EXPECT_FALSE(fs::exists(registry / "active"));

  // A registry that cannot be created fails for real with the system's error.
  WriteFile(dir.path() / "file", "");
  EXPECT_EQ(Bits(RemoveProfile(dir.path() / "file" / "profiles")), 0x80070014u);
  EXPECT_EQ(Bits(ActivateProfile(dir.path() / "file" / "profiles")), 0x80070014u);
}

}  // namespace
}  // namespace kavi::win::server
