// SPDX-License-Identifier: Apache-2.0
// The one kavi-service that the network tests share, started on first use.
#pragma once

#include <gtest/gtest.h>

#include "tests/common/kavi_service_process.h"

namespace kavi::win::testing {

inline KaviServiceProcess& SharedService() {
  static KaviServiceProcess* service = [] {
    auto* started = new KaviServiceProcess();
    EXPECT_TRUE(started->Start("\"reports_per_minute\": 0, \"snapshot_seconds\": 0, "
                               "\"dictionary\": \"" KAVI_SOURCE_DIR "/service/data/cedict_ts.u8.gz\""));
    std::atexit([] { SharedService().Stop(); });
    return started;
  }();
  return *service;
}

// Writes a file of `size` bytes of a repeating, position-dependent pattern into the service's
// "/files" tree; its content.
inline std::string ServeFile(const std::string& name, size_t size) {
  std::string content(size, '\0');
  for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  WriteFile(SharedService().files_dir() / name, content);
  return content;
}

}  // namespace kavi::win::testing
