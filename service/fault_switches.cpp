// SPDX-License-Identifier: Apache-2.0
#include "service/fault_switches.h"

#include "config/json.h"

namespace kavi::service {
namespace {

using win::JsonValue;

// An optional non-negative integer member no larger than `max`.
bool ReadCount(const JsonValue& root, std::string_view key, uint64_t max, uint64_t* out) {
  const JsonValue* member = win::server::FindJsonMember(root, key);
  if (member == nullptr) return true;
  int64_t value = 0;
  if (!win::server::GetJsonInt64(root, key, &value) || value < 0 ||
      static_cast<uint64_t>(value) > max)
    return false;
  *out = static_cast<uint64_t>(value);
  return true;
}

}  // namespace

bool ParsePathFault(std::string_view body, std::string* path, PathFault* fault,
                    std::string* error) {
  JsonValue root;
  if (!win::server::ParseJson(body, &root, error) || !root.is_object()) {
    if (error->empty()) *error = "the fault is not a JSON object";
    return false;
  }
  PathFault parsed;
  uint64_t status = 0, delay = 0, chunk = 0, interval = 0, oversize = 0;
  uint64_t truncate = parsed.delivery.truncate_after;
  uint64_t times = 0;
  const bool has_times = win::server::FindJsonMember(root, "times") != nullptr;
  constexpr uint64_t kMaxMs = 600000;
  const bool ok = win::server::GetJsonString(root, "path", path) && path->starts_with("/") &&
                  ReadCount(root, "status", 599, &status) && (status == 0 || status >= 100) &&
                  ReadCount(root, "delay_ms", kMaxMs, &delay) &&
                  ReadCount(root, "slow_chunk_bytes", 1 << 24, &chunk) &&
                  ReadCount(root, "slow_interval_ms", kMaxMs, &interval) &&
                  ReadCount(root, "truncate_after", UINT64_MAX >> 1, &truncate) &&
                  ReadCount(root, "oversize_by", 1 << 30, &oversize) &&
                  ReadCount(root, "times", 1 << 30, &times);
  const JsonValue* ignore = win::server::FindJsonMember(root, "ignore_range");
  if (!ok || (ignore != nullptr && !ignore->is_boolean())) {
    *error = "invalid fault";
    return false;
  }
  parsed.status = static_cast<unsigned>(status);
  parsed.delivery.delay_before_headers_ms = static_cast<uint32_t>(delay);
  parsed.delivery.slow_chunk_bytes = static_cast<uint32_t>(chunk);
  parsed.delivery.slow_interval_ms = static_cast<uint32_t>(interval);
  parsed.delivery.truncate_after = truncate;
  parsed.delivery.oversize_by = oversize;
  parsed.ignore_range = ignore != nullptr && ignore->boolean;
  parsed.times = has_times ? static_cast<int64_t>(times) : -1;
  *fault = parsed;
  return true;
}

void FaultSwitches::Set(const std::string& path, const PathFault& fault) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (fault.times == 0) {
    faults_.erase(path);
    return;
  }
  faults_[path] = fault;
}

void FaultSwitches::Clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  faults_.clear();
}

std::optional<PathFault> FaultSwitches::Take(const std::string& path) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = faults_.find(path);
  if (found == faults_.end()) return std::nullopt;
  PathFault fault = found->second;
  if (found->second.times > 0 && --found->second.times == 0) faults_.erase(found);
  return fault;
}

void RequestLog::Add(const HttpRequestIn& request) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (entries_.size() == kKept) entries_.erase(entries_.begin());
  entries_.push_back({request.method, request.target, std::string(request.Header("Range"))});
}

std::string RequestLog::Json() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::string json = "[";
  for (const Entry& entry : entries_) {
    if (json.size() > 1) json += ",";
    json += "{\"method\":";
    win::server::AppendJsonString(entry.method, &json);
    json += ",\"range\":";
    win::server::AppendJsonString(entry.range, &json);
    json += ",\"target\":";
    win::server::AppendJsonString(entry.target, &json);
    json += "}";
  }
  return json + "]";
}

void RequestLog::Clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  entries_.clear();
}

}  // namespace kavi::service
