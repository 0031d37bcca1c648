// SPDX-License-Identifier: Apache-2.0
// The settings that client sessions read on every request. The configuration loader and the
// watcher replace them as a whole; sessions take a copy.
#pragma once

#include <mutex>
#include <string>

#include "config/config_record.h"

namespace kavi::win {

struct SessionSettings {
  bool inline_preedit = true;
  bool cloud_input = true;
  std::string charset = "zhs";
  bool shift_toggle = true;
  std::string schema = "base_pinyin";
  // Folded to lower case; a custom layout applies only with the stroke schema.
  std::string stroke_keys = EngineSettings::kDefaultStrokeKeys;
  bool bopomofo = false;
  bool horizontal = true;

  bool simplified_output() const { return charset == "zhs"; }
  bool custom_stroke_layout() const {
    return schema == "stroke" && stroke_keys.size() == 5 &&
           stroke_keys != EngineSettings::kDefaultStrokeKeys;
  }
};

class LiveSettings {
 public:
  SessionSettings Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
  }
  void Set(SessionSettings settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = std::move(settings);
  }

 private:
  mutable std::mutex mutex_;
  SessionSettings settings_;
};

}  // namespace kavi::win
