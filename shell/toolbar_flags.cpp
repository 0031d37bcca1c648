// SPDX-License-Identifier: Apache-2.0
#include "shell/toolbar_flags.h"

#include <cmath>
#include <string>

#include "config/json.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "platform/log.h"

namespace kavi::win {
namespace {

constexpr uintmax_t kMaxRegistryBytes = 64 * 1024;
constexpr double kMaxValue = 4294967295.0;

// The file's object, or an empty one when it is missing or not a JSON object.
JsonObject ReadObject(const std::filesystem::path& path) {
  std::string bytes;
  JsonValue value;
  if (ReadRegularFile(path, kMaxRegistryBytes, &bytes) != ReadFileResult::kRead ||
      !server::ParseJson(bytes, &value, nullptr) || !value.is_object())
    return {};
  return std::move(value.object);
}

}  // namespace

uint32_t ToolbarFlags::Read(std::string_view name) const {
  const JsonObject object = ReadObject(path_);
  const JsonValue* value = object.Find(name);
  if (!value || !value->is_number() || value->number < 0 || value->number > kMaxValue ||
      value->number != std::floor(value->number))
    return 0;
  return static_cast<uint32_t>(value->number);
}

bool ToolbarFlags::Write(std::string_view name, uint32_t value) const {
  JsonObject object = ReadObject(path_);
  object.Set(std::string(name), server::MakeJsonNumber(value));
  std::error_code ignored;
  std::filesystem::create_directories(path_.parent_path(), ignored);
  const bool written =
      ReplaceFile(path_, server::SerializeJson(server::MakeJsonObject(std::move(object))) + "\n",
                  std::filesystem::perms(0600), nullptr) &&
      Read(name) == value;
  if (!written) LogLine("[Kavi] 無法保存工具欄形態\n");
  return written;
}

}  // namespace kavi::win
