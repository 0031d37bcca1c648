// SPDX-License-Identifier: Apache-2.0
#include "server/app/settings_applier.h"

#include "ovra/engine_api.h"
#include "platform/log.h"

namespace kavi::win {

void ApplyEngineSettings(const ConfigRecord& config) {
  const EngineSettings& e = config.engine;
  kavi_set_page_size(e.page_size);
  kavi_set_charset(e.charset.c_str());
  kavi_set_linear(e.horizontal);
  kavi_set_enable_melt_eng(e.melt_english);
  kavi_set_enable_ext_cjk(e.ext_cjk);
  kavi_set_enable_predict(e.prediction);
  kavi_set_full_shape(e.full_width);
  kavi_set_good_old_caps_lock(config.app.caps_lock_mode != AppOptions::kCapsLockSwitch);
  kavi_set_active_schemas(e.schema.c_str());
  if (!kavi_select_schema(e.schema.c_str())) LogLine("[Kavi] 輸入方案切換失敗\n");
}

SessionSettings SessionSettingsFrom(const ConfigRecord& config) {
  SessionSettings s;
  s.inline_preedit = config.engine.inline_preedit;
  s.cloud_input = config.app.cloud_input;
  s.charset = config.engine.charset;
  s.shift_toggle = config.engine.shift_toggle;
  s.schema = config.engine.schema;
  s.stroke_keys = config.engine.stroke_keys;
  s.bopomofo = config.engine.schema.find("bopomofo") != std::string::npos;
  s.horizontal = config.engine.horizontal;
  return s;
}

}  // namespace kavi::win
