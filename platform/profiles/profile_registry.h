// SPDX-License-Identifier: Apache-2.0
// The per-user input profile registry: where this system keeps what the input library's
// layout-or-tip list and the text services' profile store keep elsewhere.
//
//   <dir>/input-languages   installed profile strings, one a line, the default first
//   <dir>/enabled           enabled profile strings, one a line
//   <dir>/default           the default profile string of each language, one a line
//   <dir>/current-language  the current input language, "0x0804"
//   <dir>/active            the active profile string and its activation flags
//
// A profile string is "0x<language>:{class id}{profile GUID}". Every change rewrites one file
// atomically under an exclusive lock on "<dir>/.lock". Operations return false with the
// errno value of the failing call in *error, or 0 when the failure had no error code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kavi::win {

// Flags of InstallLayoutOrTip.
inline constexpr uint32_t kLayoutOrTipUninstall = 0x1;
inline constexpr uint32_t kLayoutOrTipDefaultProfile = 0x2;

// Flags of ActivateProfile.
inline constexpr uint32_t kActivateForSession = 0x1;
inline constexpr uint32_t kActivateEnableProfile = 0x4;
inline constexpr uint32_t kActivateDontCareCurrentLanguage = 0x20000000;

// The operations the registration steps use; tests substitute a registry that fails.
class ProfileRegistry {
 public:
  virtual ~ProfileRegistry() = default;

  // Adds the profile to the user's input languages (first when flags hold the default-profile
  // flag), or with the uninstall flag removes it and everything recorded about it.
  virtual bool InstallLayoutOrTip(std::string_view profile, uint32_t flags, int* error) = 0;
  // Opens the registry for the profile calls below; Close ends that.
  virtual bool Open(int* error) = 0;
  virtual void Close() = 0;
  virtual bool EnableLanguageProfile(std::string_view class_id, uint16_t language,
                                     std::string_view profile_guid, bool enable, int* error) = 0;
  virtual bool SetDefaultLanguageProfile(uint16_t language, std::string_view class_id,
                                         std::string_view profile_guid, int* error) = 0;
  virtual bool ChangeCurrentLanguage(uint16_t language, int* error) = 0;
  virtual bool ActivateProfile(uint16_t language, std::string_view class_id,
                               std::string_view profile_guid, uint32_t flags, int* error) = 0;
};

// The registry in a directory of files, as laid out above.
class FileProfileRegistry : public ProfileRegistry {
 public:
  explicit FileProfileRegistry(std::filesystem::path dir);

  bool InstallLayoutOrTip(std::string_view profile, uint32_t flags, int* error) override;
  bool Open(int* error) override;
  void Close() override {}
  bool EnableLanguageProfile(std::string_view class_id, uint16_t language,
                             std::string_view profile_guid, bool enable, int* error) override;
  bool SetDefaultLanguageProfile(uint16_t language, std::string_view class_id,
                                 std::string_view profile_guid, int* error) override;
  bool ChangeCurrentLanguage(uint16_t language, int* error) override;
  bool ActivateProfile(uint16_t language, std::string_view class_id, std::string_view profile_guid,
                       uint32_t flags, int* error) override;

  // The profile string of (language, class id, profile GUID): "0x0804:{...}{...}".
  static std::string ProfileKey(uint16_t language, std::string_view class_id,
                                std::string_view profile_guid);

 private:
  const std::filesystem::path dir_;
};

}  // namespace kavi::win
