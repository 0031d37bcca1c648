// SPDX-License-Identifier: Apache-2.0
// The identity of a Debian package file: the Package, Version and Architecture fields of its
// control file, read from the "control.tar.*" member of the .deb's ar archive with libarchive.
// The update checker compares them with the feed before it offers the package.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

inline constexpr uint64_t kMaxControlArchiveBytes = 16u << 20;  // the control.tar member
inline constexpr uint64_t kMaxControlFileBytes = 1u << 20;

struct DebControl {
  std::string package;
  std::string version;
  std::string architecture;
};

enum class DebControlResult {
  kRead,
  kUnreadable,  // not an ar archive, or a damaged member
  kNoControl,   // no control.tar member, or no control file in it
};

DebControlResult ReadDebControl(const std::filesystem::path& deb, DebControl* control,
                                std::string* detail);
// The same over the bytes of a .deb (the fuzzer's way in).
DebControlResult ReadDebControlFromMemory(std::string_view deb, DebControl* control,
                                          std::string* detail);

// The three fields of a control file's text (continuation lines are skipped); missing ones
// stay empty.
void ParseControlFields(std::string_view text, DebControl* control);

// A Debian version "MAJOR.MINOR.PATCH" or "MAJOR.MINOR.PATCH-BUILD" as four numbers (a missing
// build is 0); false for any other form (an epoch, letters, more parts).
bool ParseDebianVersion(std::string_view text, std::vector<uint32_t>* version, uint32_t* build);

}  // namespace kavi::win
