// SPDX-License-Identifier: Apache-2.0
// kavi-service's configuration file (JSON). Relative paths are taken from the file's folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "service/static_trees.h"

namespace kavi::service {

struct ServiceConfig {
  std::string listen = "127.0.0.1";
  uint16_t port = 8443;               // 0: any free port (written to port_file)
  std::filesystem::path certificate;  // PEM chain, required
  std::filesystem::path private_key;  // PEM, required
  int threads = 2;
  std::filesystem::path database;    // SQLite file of the cloud words, required
  std::filesystem::path dictionary;  // CC-CEDICT file; empty: "dict" is unavailable
  std::string libretranslate_url;    // empty: only "dict" translates
  std::string libretranslate_api_key;
  std::vector<StaticTree> static_trees;
  // The scheme packs' folder (scheme_pack_catalog.h); empty: no /packs/scheme.
  std::filesystem::path scheme_packs;
  // The origin that published URLs begin with ("https://packs.example.org"); empty: the
  // request's own Host.
  std::string public_base_url;
  uint32_t reports_per_minute = 120;  // per client address; 0: unlimited
  uint32_t hot_limit = 5000;          // items in /cloud/hot (at most 50000)
  uint32_t bigram_limit = 20000;      // items in /cloud/bigram (at most 100000)
  uint32_t snapshot_seconds = 60;     // a snapshot is recomputed at most this often
  std::filesystem::path port_file;    // when set, the bound port is written here once listening
  bool test_switches = false;         // the /_test/ paths (fault switches, request log)
};

// False with a message naming the faulty key.
bool ParseServiceConfig(std::string_view text, const std::filesystem::path& base_directory,
                        ServiceConfig* out, std::string* error);
bool LoadServiceConfig(const std::filesystem::path& file, ServiceConfig* out, std::string* error);

}  // namespace kavi::service
