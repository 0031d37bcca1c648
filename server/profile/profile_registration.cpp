// SPDX-License-Identifier: Apache-2.0
#include "server/profile/profile_registration.h"

#include "platform/log.h"
#include "server/profile/profile_ids.h"

namespace kavi::win::server {
namespace {

constexpr int kGeneralFailure = 31;
constexpr uint32_t kActivationFlags =
    kActivateForSession | kActivateEnableProfile | kActivateDontCareCurrentLanguage;

int32_t InstallLayoutOrTip(ProfileRegistry& registry, uint32_t flags) {
  int error = 0;
  if (registry.InstallLayoutOrTip(ProfileString(), flags, &error)) return 0;
  return HresultFromError(error);
}

// Keeps the registry open for the activation steps and closes it on every path.
class OpenRegistry {
 public:
  explicit OpenRegistry(ProfileRegistry& registry) : registry_(registry) {}
  ~OpenRegistry() {
    if (open_) registry_.Close();
  }
  OpenRegistry(const OpenRegistry&) = delete;
  OpenRegistry& operator=(const OpenRegistry&) = delete;

  bool Open(int* error) { return open_ = registry_.Open(error); }

 private:
  ProfileRegistry& registry_;
  bool open_ = false;
};

// The text services' side of the activation. There is no COM to initialise here; the
// registry's Open stands where the thread manager is activated.
int32_t ActivateTextServices(ProfileRegistry& registry) {
  int error = 0;
  OpenRegistry session(registry);
  if (!session.Open(&error)) return HresultFromError(error);
  if (!registry.EnableLanguageProfile(kTextServiceClassId, kProfileLanguageId, kLanguageProfileGuid,
                                      true, &error))
    return HresultFromError(error);
  if (!registry.SetDefaultLanguageProfile(kProfileLanguageId, kTextServiceClassId,
                                          kLanguageProfileGuid, &error))
    LogLine(kDefaultProfileFailedLog);
  if (!registry.ChangeCurrentLanguage(kProfileLanguageId, &error))
    LogLine(kChangeLanguageFailedLog);
  if (!registry.ActivateProfile(kProfileLanguageId, kTextServiceClassId, kLanguageProfileGuid,
                                kActivationFlags, &error))
    return HresultFromError(error);
  return 0;
}

}  // namespace

int32_t HresultFromError(int error) {
  uint32_t code = static_cast<uint32_t>(error == 0 ? kGeneralFailure : error);
  return static_cast<int32_t>(0x80070000u | (code & 0xFFFFu));
}

std::string ProfileString() {
  return FileProfileRegistry::ProfileKey(kProfileLanguageId, kTextServiceClassId,
                                         kLanguageProfileGuid);
}

std::filesystem::path ProfileRegistryFolder(const std::filesystem::path& local_root) {
  return local_root / kProfileRegistryFolderName;
}

int32_t RemoveProfile(ProfileRegistry& registry) {
  return InstallLayoutOrTip(registry, kLayoutOrTipUninstall);
}

int32_t ActivateProfile(ProfileRegistry& registry) {
  // Whether the input languages took the profile shows in the activation that follows.
  InstallLayoutOrTip(registry, kLayoutOrTipDefaultProfile);
  return ActivateTextServices(registry);
}

int32_t RemoveProfile(const std::filesystem::path& registry_dir) {
  FileProfileRegistry registry(registry_dir);
  return RemoveProfile(registry);
}

int32_t ActivateProfile(const std::filesystem::path& registry_dir) {
  FileProfileRegistry registry(registry_dir);
  return ActivateProfile(registry);
}

int ProfileModeExitCode(int32_t result) {
  return result < 0 ? result : 0;
}

}  // namespace kavi::win::server
