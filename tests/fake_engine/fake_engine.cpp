// SPDX-License-Identifier: Apache-2.0
#include "tests/fake_engine/fake_engine.h"

#include <cstdlib>
#include <cstring>

#include "ovra/engine_api.h"
#include "protocol/pipe_records.h"

namespace kavi::win::testing {

FakeEngine& Fake() {
  static FakeEngine engine;
  return engine;
}

int FakeEngine::PageCount() const {
  if (input.empty() || candidates.empty()) return 0;
  return static_cast<int>((candidates.size() + page_size - 1) / page_size);
}

void FakeEngine::Commit(const std::string& text) {
  commit_text = text;
  commit_alternative.clear();
  commit_code = input;
  commit_ready = true;
  input.clear();
  page = 0;
  highlighted = 0;
}

namespace {

int PageItems(const FakeEngine& e) {
  if (e.input.empty()) return 0;
  int start = e.page * e.page_size;
  int n = static_cast<int>(e.candidates.size()) - start;
  return std::max(0, std::min(n, e.page_size));
}

char* Keep(const std::string& s) {
  FakeEngine& e = Fake();
  e.storage.push_back(s);
  return e.storage.back().data();
}

bool SelectGlobal(int global) {
  FakeEngine& e = Fake();
  ++e.select_calls;
  if (e.input.empty() || global < 0 || global >= static_cast<int>(e.candidates.size()))
    return false;
  e.Commit(e.candidates[static_cast<size_t>(global)].text);
  return true;
}

}  // namespace
}  // namespace kavi::win::testing

using kavi::win::testing::Fake;
using kavi::win::testing::FakeEngine;
namespace keys = kavi::win::keys;

extern "C" {

void kavi_setup(const KaviTraits* traits) {
  FakeEngine& e = Fake();
  ++e.setup_calls;
  e.shared_data_dir = traits->shared_data_dir ? traits->shared_data_dir : "";
  e.user_data_dir = traits->user_data_dir ? traits->user_data_dir : "";
  e.log_dir = traits->log_dir ? traits->log_dir : "";
}
void kavi_initialize(void) {
  ++Fake().initialize_calls;
}
void kavi_cloud_init(void) {
  ++Fake().cloud_init_calls;
}
void kavi_finalize(void) {
  ++Fake().finalize_calls;
}
void kavi_prepare_restart(void) {
  FakeEngine& e = Fake();
  ++e.prepare_calls;
  if (e.on_prepare_restart) e.on_prepare_restart();
}
void kavi_sync_user_data(void) {
  ++Fake().sync_calls;
}
// The fake has no user files to follow.
void kavi_reload_user_files(void) {}

bool kavi_process_key(uint32_t keycode, uint32_t modifiers) {
  FakeEngine& e = Fake();
  if (e.on_process_key) e.on_process_key(keycode);
  e.storage.clear();
  ++e.process_key_calls;
  e.keys_seen.emplace_back(keycode, modifiers);
  if (modifiers & keys::kReleaseMask) return false;
  if (e.options["ascii_mode"]) return false;
  if (modifiers & keys::kChordMask) return false;
  const bool composing = !e.input.empty();
  if ((keycode >= 'a' && keycode <= 'z') || (keycode == '`' && !composing)) {
    e.input.push_back(static_cast<char>(keycode));
    e.page = 0;
    e.highlighted = 0;
    return true;
  }
  if (!composing) return false;
  const int items = kavi::win::testing::PageItems(e);
  switch (keycode) {
    case keys::kBackSpace:
      e.input.pop_back();
      e.page = 0;
      e.highlighted = 0;
      return true;
    case keys::kEscape:
      e.input.clear();
      e.page = 0;
      e.highlighted = 0;
      return true;
    case keys::kReturn:
      e.Commit(e.input);
      return true;
    case keys::kSpace:
      if (items == 0) return true;
      return kavi::win::testing::SelectGlobal(e.page * e.page_size + e.highlighted), true;
    case keys::kPageDown:
    case '=':
      if (e.page + 1 < e.PageCount()) {
        ++e.page;
        e.highlighted = 0;
      }
      return true;
    case keys::kPageUp:
    case '-':
      if (e.page > 0) {
        --e.page;
        e.highlighted = 0;
      }
      return true;
    case keys::kUp:
      if (e.highlighted > 0) --e.highlighted;
      return true;
    case keys::kDown:
      if (e.highlighted + 1 < items) ++e.highlighted;
      return true;
    default:
      break;
  }
  if ((keycode >= '1' && keycode <= '9') || keycode == '0') {
    int slot = keycode == '0' ? 9 : static_cast<int>(keycode - '1');
    if (slot < items) kavi::win::testing::SelectGlobal(e.page * e.page_size + slot);
    return true;
  }
  return false;
}

bool kavi_get_commit(KaviCommit* commit) {
  FakeEngine& e = Fake();
  if (!e.commit_ready) return false;
  e.commit_ready = false;
  commit->text = kavi::win::testing::Keep(e.commit_text);
  commit->alternative_text = kavi::win::testing::Keep(e.commit_alternative);
  commit->input_code = kavi::win::testing::Keep(e.commit_code);
  return true;
}

bool kavi_get_context(KaviContext* context) {
  FakeEngine& e = Fake();
  if (e.context_fails) return false;
  const int items = kavi::win::testing::PageItems(e);
  context->composition_length = static_cast<int32_t>(e.input.size());
  context->cursor = static_cast<int32_t>(e.input.size());
  context->preedit = kavi::win::testing::Keep(e.input);
  context->page_size = e.page_size;
  context->page_number = e.page;
  context->menu_count = e.input.empty() ? 0 : static_cast<int32_t>(e.candidates.size());
  context->is_last_page = e.page + 1 >= e.PageCount() ? 1 : 0;
  context->highlighted = e.highlighted;
  context->num_candidates = items;
  if (items > 0) {
    auto* list = new KaviCandidate[static_cast<size_t>(items)];
    for (int i = 0; i < items; ++i) {
      const auto& c = e.candidates[static_cast<size_t>(e.page * e.page_size + i)];
      list[i].text = kavi::win::testing::Keep(c.text);
      list[i].comment = kavi::win::testing::Keep(c.comment);
    }
    context->candidates = list;
  }
  return true;
}

void kavi_free_context(KaviContext* context) {
  delete[] context->candidates;
  context->candidates = nullptr;
}

bool kavi_get_all_candidates(KaviCandidateList* list, int32_t max_count) {
  FakeEngine& e = Fake();
  if (e.input.empty()) return false;
  int n = std::min<int>(static_cast<int>(e.candidates.size()), max_count);
  list->count = n;
  list->candidates = new KaviCandidate[static_cast<size_t>(std::max(n, 1))];
  for (int i = 0; i < n; ++i) {
    list->candidates[i].text = kavi::win::testing::Keep(e.candidates[static_cast<size_t>(i)].text);
    list->candidates[i].comment =
        kavi::win::testing::Keep(e.candidates[static_cast<size_t>(i)].comment);
  }
  return true;
}

void kavi_free_all_candidates(KaviCandidateList* list) {
  delete[] list->candidates;
  list->candidates = nullptr;
  list->count = 0;
}

const char* kavi_get_input(void) {
  FakeEngine& e = Fake();
  return e.input.empty() ? nullptr : kavi::win::testing::Keep(e.input);
}

const char* kavi_expand_input(const char* input) {
  return input ? kavi::win::testing::Keep(input) : nullptr;
}

bool kavi_select_candidate(int32_t index_on_page) {
  FakeEngine& e = Fake();
  return kavi::win::testing::SelectGlobal(e.page * e.page_size + index_on_page);
}

bool kavi_highlight_candidate(int32_t index_on_page) {
  FakeEngine& e = Fake();
  if (index_on_page < 0 || index_on_page >= kavi::win::testing::PageItems(e)) return false;
  e.highlighted = index_on_page;
  return true;
}

bool kavi_change_page(bool backward) {
  FakeEngine& e = Fake();
  if (backward) {
    if (e.page == 0) return false;
    --e.page;
  } else {
    if (e.page + 1 >= e.PageCount()) return false;
    ++e.page;
  }
  e.highlighted = 0;
  return true;
}

void kavi_clear_composition(void) {
  FakeEngine& e = Fake();
  ++e.clear_calls;
  e.input.clear();
  e.page = 0;
  e.highlighted = 0;
}

bool kavi_get_option(const char* name) {
  return Fake().options[name];
}
void kavi_set_option(const char* name, bool value) {
  Fake().options[name] = value;
}

char* kavi_convert_text(const char* text, const char* mode) {
  FakeEngine& e = Fake();
  std::string out = text ? text : "";
  if (mode && std::strcmp(mode, "t2s") == 0) {
    auto it = e.t2s.find(out);
    if (it != e.t2s.end()) out = it->second;
  }
  return strdup(out.c_str());
}

void kavi_set_page_size(int32_t page_size) {
  Fake().page_size_set = page_size;
  Fake().page_size = page_size;
}
void kavi_set_charset(const char* charset) {
  Fake().charset = charset ? charset : "";
}
void kavi_set_linear(bool v) {
  Fake().flags_set["linear"] = v;
}
void kavi_set_enable_melt_eng(bool v) {
  Fake().flags_set["melt_eng"] = v;
}
void kavi_set_enable_ext_cjk(bool v) {
  Fake().flags_set["ext_cjk"] = v;
}
void kavi_set_enable_predict(bool v) {
  Fake().flags_set["predict"] = v;
}
void kavi_set_full_shape(bool v) {
  Fake().flags_set["full_shape"] = v;
}
void kavi_set_good_old_caps_lock(bool v) {
  Fake().flags_set["good_old_caps_lock"] = v;
}
void kavi_set_active_schemas(const char* ids) {
  Fake().active_schemas = ids ? ids : "";
}
bool kavi_select_schema(const char* id) {
  Fake().selected_schema = id ? id : "";
  return id && *id;
}

const char* kavi_cloud_hot_lookup(const char* expanded_input) {
  FakeEngine& e = Fake();
  auto it = e.hot_words.find(expanded_input ? expanded_input : "");
  return it == e.hot_words.end() ? nullptr : kavi::win::testing::Keep(it->second);
}
bool kavi_cloud_hot_replace(const char* const* keys_in, const char* const* values, int32_t count) {
  FakeEngine& e = Fake();
  e.hot_replaced.clear();
  for (int32_t i = 0; i < count; ++i) e.hot_replaced.emplace_back(keys_in[i], values[i]);
  return true;
}
void kavi_cloud_hot_clear(void) {
  Fake().hot_words.clear();
}
void kavi_cloud_bigram_clear(void) {
  Fake().bigrams.clear();
}
void kavi_cloud_bigram_add(const char* first, const char* second, double weight) {
  Fake().bigrams.push_back({{first, second}, weight});
}
bool kavi_cloud_bigram_rebuild(void) {
  ++Fake().bigram_rebuilds;
  return true;
}

}  // extern "C"
