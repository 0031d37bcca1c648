// SPDX-License-Identifier: Apache-2.0
// Faults that tests switch on per path while the service runs: a status code, a delay before
// the headers, a slow, truncated or oversized body, a Range header ignored. Reached through
// the "/_test/" paths, which exist only when the configuration enables them.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/https_server.h"

namespace kavi::service {

struct PathFault {
  unsigned status = 0;  // answer with this status (and a short body) instead; 0: no
  DeliveryFaults delivery;
  bool ignore_range = false;
  int64_t times = -1;  // the number of requests it applies to; -1: until cleared
};

// Reads {"path": "/files/a", "status": 503, "delay_ms": 100, "slow_chunk_bytes": 1024,
// "slow_interval_ms": 10, "truncate_after": 4096, "oversize_by": 1, "ignore_range": true,
// "times": 1}. False with a message when it is not such an object.
bool ParsePathFault(std::string_view body, std::string* path, PathFault* fault, std::string* error);

class FaultSwitches {
 public:
  void Set(const std::string& path, const PathFault& fault);
  void Clear();
  // The fault for this path, counting one use of it.
  std::optional<PathFault> Take(const std::string& path);

 private:
  std::mutex mutex_;
  std::map<std::string, PathFault> faults_;
};

// The recent requests, for tests that check what a client sent (its Range header, how often
// it asked).
class RequestLog {
 public:
  void Add(const HttpRequestIn& request);
  // [{"method":..,"target":..,"range":..}, ...], oldest first.
  std::string Json();
  void Clear();

 private:
  struct Entry {
    std::string method, target, range;
  };
  static constexpr size_t kKept = 1000;
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace kavi::service
