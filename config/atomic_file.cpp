// SPDX-License-Identifier: Apache-2.0
#include "config/atomic_file.h"

#include "platform/file_replace.h"

namespace kavi::win::server {

namespace {

constexpr char kCreateFailed[] = "無法建立暫存配置";
constexpr char kReplaceFailed[] = "原子更新配置失敗";

constexpr std::filesystem::perms kFilePermissions =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
    std::filesystem::perms::group_read | std::filesystem::perms::others_read;

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::string* message) {
  if (message != nullptr) message->clear();
  ReplaceFailure failure;
  if (ReplaceFile(target, bytes, kFilePermissions, &failure)) return true;
  if (message != nullptr)
    *message = failure.step == AtomicWriteStep::kCreate ? kCreateFailed : kReplaceFailed;
  return false;
}

}  // namespace kavi::win::server
