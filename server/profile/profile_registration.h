// SPDX-License-Identifier: Apache-2.0
// "--activate-profile" and "--remove-profile": adding the input method to the user's input
// languages and making it the active input profile, or removing it again. Results are HRESULT
// values, so that both modes report alike on every system.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/profiles/profile_registry.h"

namespace kavi::win::server {

inline constexpr char kProfileRegistryFolderName[] = "profiles";
inline constexpr char kDefaultProfileFailedLog[] =
    "[Kavi] 無法把霜楓設為預設語言 profile（繼續激活）\n";
inline constexpr char kChangeLanguageFailedLog[] = "[Kavi] 無法切換目前輸入語言（繼續激活）\n";

// An error code as an HRESULT: 0x80070000 | (error & 0xFFFF); a failure that left no error
// code counts as general failure (31).
int32_t HresultFromError(int error);

// "0x0804:" followed by the class id and the profile GUID.
std::string ProfileString();

// The profile registry folder under the local data root ("Kavi" in the local data folder).
std::filesystem::path ProfileRegistryFolder(const std::filesystem::path& local_root);

// Removes the profile from the user's input languages; 0 or the failure's HRESULT.
int32_t RemoveProfile(ProfileRegistry& registry);
// Installs the profile as the default and activates it. Failing to make it the default
// language profile or to switch the current language is logged and does not stop the
// activation; any other failure ends it and is the result.
int32_t ActivateProfile(ProfileRegistry& registry);

// The same over the registry in registry_dir.
int32_t RemoveProfile(const std::filesystem::path& registry_dir);
int32_t ActivateProfile(const std::filesystem::path& registry_dir);

// The process exit code of a profile mode: its result when negative, else 0.
int ProfileModeExitCode(int32_t result);

}  // namespace kavi::win::server
