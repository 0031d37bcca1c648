// SPDX-License-Identifier: Apache-2.0
// The exported kavi_* functions: C arguments in, C records out, everything else in Engine.
// The interface comes first: the engine's own headers include it too, and its declarations must
// be seen with default visibility the first time.
#pragma GCC visibility push(default)
#include "ovra/engine_api.h"
#pragma GCC visibility pop

#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "ovra/engine.h"
#include "ovra/log.h"

namespace {

using kavi::win::Engine;

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

// Strings handed out by pointer stay valid until the next call into the engine.
struct ReturnedStrings {
  kavi::win::CommitRecord commit;
  std::string expanded;
};

ReturnedStrings& Returned() {
  static ReturnedStrings strings;
  return strings;
}

char* CopyString(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

int32_t ToInt32(size_t value) {
  return value > static_cast<size_t>(std::numeric_limits<int32_t>::max())
             ? std::numeric_limits<int32_t>::max()
             : static_cast<int32_t>(value);
}

KaviCandidate* CopyCandidates(const std::vector<kavi::win::CandidateEntry>& entries) {
  if (entries.empty()) return nullptr;
  auto* candidates =
      static_cast<KaviCandidate*>(std::calloc(entries.size(), sizeof(KaviCandidate)));
  if (!candidates) return nullptr;
  for (size_t i = 0; i < entries.size(); ++i) {
    candidates[i].text = CopyString(entries[i].text);
    candidates[i].comment = CopyString(entries[i].comment);
  }
  return candidates;
}

void FreeCandidates(KaviCandidate* candidates, int32_t count) {
  if (!candidates) return;
  for (int32_t i = 0; i < count; ++i) {
    std::free(candidates[i].text);
    std::free(candidates[i].comment);
  }
  std::free(candidates);
}

// No exception may leave the library: a failure is logged and the call answers "nothing".
template <typename Result, typename Body>
Result Guarded(const char* name, Result fallback, Body body) {
  try {
    return body();
  } catch (const std::exception& e) {
    kavi::win::LogEngineEvent(std::string(name) + " failed: " + e.what());
  } catch (...) {
    kavi::win::LogEngineEvent(std::string(name) + " failed");
  }
  return fallback;
}

template <typename Body>
void GuardedVoid(const char* name, Body body) {
  Guarded(name, 0, [&] {
    body();
    return 0;
  });
}

std::string OrEmpty(const char* text) {
  return text ? std::string(text) : std::string();
}

}  // namespace

extern "C" {

void kavi_setup(const KaviTraits* traits) {
  if (!traits) return;
  // The log directory goes unused: engine events are lines on stderr like every Kavi event.
  GuardedVoid("kavi_setup", [&] {
    TheEngine().Setup({OrEmpty(traits->shared_data_dir), OrEmpty(traits->user_data_dir)});
  });
}

void kavi_initialize(void) {
  GuardedVoid("kavi_initialize", [] { TheEngine().Initialize(); });
}

void kavi_cloud_init(void) {
  // The cloud word lists arrive later through kavi_cloud_hot_replace and the bigram calls.
}

void kavi_finalize(void) {
  GuardedVoid("kavi_finalize", [] { TheEngine().Finalize(); });
}

void kavi_prepare_restart(void) {
  GuardedVoid("kavi_prepare_restart", [] { TheEngine().PrepareRestart(); });
}

void kavi_sync_user_data(void) {
  GuardedVoid("kavi_sync_user_data", [] {
    std::string message;
    if (!TheEngine().SyncUserData(&message)) kavi::win::LogEngineEvent(message);
  });
}

void kavi_reload_user_files(void) {
  GuardedVoid("kavi_reload_user_files", [] { TheEngine().ReloadUserFiles(); });
}

bool kavi_process_key(uint32_t keycode, uint32_t modifiers) {
  return Guarded("kavi_process_key", false,
                 [&] { return TheEngine().ProcessKey(keycode, modifiers); });
}

bool kavi_get_commit(KaviCommit* commit) {
  if (!commit) return false;
  return Guarded("kavi_get_commit", false, [&] {
    auto& record = Returned().commit;
    if (!TheEngine().TakeCommit(&record)) return false;
    commit->text = record.text.data();
    commit->alternative_text = record.alternative_text.data();
    commit->input_code = record.input_code.data();
    return true;
  });
}

bool kavi_get_context(KaviContext* context) {
  if (!context) return false;
  return Guarded("kavi_get_context", false, [&] {
    kavi::win::ContextSnapshot snapshot;
    if (!TheEngine().GetContext(&snapshot)) return false;
    context->composition_length = ToInt32(snapshot.preedit.size());
    context->cursor = ToInt32(snapshot.cursor);
    context->selection_start = ToInt32(snapshot.selection_start);
    context->selection_end = ToInt32(snapshot.selection_end);
    context->preedit = CopyString(snapshot.preedit);
    context->page_size = ToInt32(snapshot.page_size);
    context->page_number = ToInt32(snapshot.page_number);
    context->menu_count = ToInt32(snapshot.total_candidates);
    context->is_last_page = snapshot.is_last_page ? 1 : 0;
    context->highlighted = ToInt32(snapshot.highlighted);
    context->candidates = CopyCandidates(snapshot.candidates);
    context->num_candidates = context->candidates ? ToInt32(snapshot.candidates.size()) : 0;
    return true;
  });
}

void kavi_free_context(KaviContext* context) {
  if (!context) return;
  std::free(context->preedit);
  FreeCandidates(context->candidates, context->num_candidates);
  context->preedit = nullptr;
  context->candidates = nullptr;
  context->num_candidates = 0;
}

bool kavi_get_all_candidates(KaviCandidateList* list, int32_t max_count) {
  if (!list || max_count <= 0) return false;
  return Guarded("kavi_get_all_candidates", false, [&] {
    auto entries = TheEngine().AllCandidates(static_cast<size_t>(max_count));
    list->candidates = CopyCandidates(entries);
    list->count = list->candidates ? ToInt32(entries.size()) : 0;
    return true;
  });
}

void kavi_free_all_candidates(KaviCandidateList* list) {
  if (!list) return;
  FreeCandidates(list->candidates, list->count);
  list->candidates = nullptr;
  list->count = 0;
}

const char* kavi_get_input(void) {
  const std::string* input = TheEngine().Input();
  return input ? input->c_str() : nullptr;
}

const char* kavi_expand_input(const char* input) {
  if (!input) return nullptr;
  return Guarded("kavi_expand_input", static_cast<const char*>(nullptr), [&]() -> const char* {
    std::string& expanded = Returned().expanded;
    expanded = TheEngine().ExpandInput(input);
    return expanded.empty() ? nullptr : expanded.c_str();
  });
}

bool kavi_select_candidate(int32_t index_on_page) {
  return Guarded("kavi_select_candidate", false,
                 [&] { return TheEngine().SelectCandidate(index_on_page); });
}

bool kavi_highlight_candidate(int32_t index_on_page) {
  if (index_on_page < 0) return false;
  return TheEngine().HighlightCandidate(static_cast<size_t>(index_on_page));
}

bool kavi_change_page(bool backward) {
  return TheEngine().ChangePage(backward);
}

void kavi_clear_composition(void) {
  GuardedVoid("kavi_clear_composition", [] { TheEngine().ClearComposition(); });
}

bool kavi_get_option(const char* name) {
  return name && TheEngine().GetOption(name);
}

void kavi_set_option(const char* name, bool value) {
  if (!name) return;
  GuardedVoid("kavi_set_option", [&] { TheEngine().SetOption(name, value); });
}

char* kavi_convert_text(const char* text, const char* mode) {
  if (!text || !mode) return nullptr;
  return Guarded("kavi_convert_text", static_cast<char*>(nullptr), [&]() -> char* {
    std::string converted;
    if (!TheEngine().ConvertText(text, mode, &converted)) return nullptr;
    return CopyString(converted);
  });
}

void kavi_set_page_size(int32_t page_size) {
  if (page_size > 0) TheEngine().SetPageSize(static_cast<size_t>(page_size));
}

void kavi_set_charset(const char* charset) {
  TheEngine().SetCharset(OrEmpty(charset));
}

void kavi_set_linear(bool linear) {
  TheEngine().SetLinear(linear);
}

void kavi_set_enable_melt_eng(bool enable) {
  GuardedVoid("kavi_set_enable_melt_eng", [&] { TheEngine().SetMeltEnglish(enable); });
}

void kavi_set_enable_ext_cjk(bool enable) {
  GuardedVoid("kavi_set_enable_ext_cjk", [&] { TheEngine().SetExtensionB(enable); });
}

void kavi_set_enable_predict(bool enable) {
  GuardedVoid("kavi_set_enable_predict", [&] { TheEngine().SetPredict(enable); });
}

void kavi_set_full_shape(bool full_shape) {
  TheEngine().SetFullShape(full_shape);
}

void kavi_set_good_old_caps_lock(bool good_old) {
  TheEngine().SetGoodOldCapsLock(good_old);
}

void kavi_set_active_schemas(const char* schema_ids) {
  TheEngine().SetActiveSchemes(OrEmpty(schema_ids));
}

bool kavi_select_schema(const char* schema_id) {
  if (!schema_id) return false;
  return Guarded("kavi_select_schema", false, [&] { return TheEngine().SelectScheme(schema_id); });
}

const char* kavi_cloud_hot_lookup(const char* expanded_input) {
  if (!expanded_input) return nullptr;
  const std::string* hot = TheEngine().cloud().LookupHot(expanded_input);
  return hot ? hot->c_str() : nullptr;
}

bool kavi_cloud_hot_replace(const char* const* keys, const char* const* values, int32_t count) {
  if (count < 0 || (count > 0 && (!keys || !values))) return false;
  return Guarded("kavi_cloud_hot_replace", false, [&] {
    std::vector<std::pair<std::string, std::string>> entries;
    entries.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
      if (!keys[i] || !values[i]) return false;
      entries.emplace_back(keys[i], values[i]);
    }
    return TheEngine().cloud().ReplaceHot(entries);
  });
}

void kavi_cloud_hot_clear(void) {
  TheEngine().cloud().ClearHot();
}

void kavi_cloud_bigram_clear(void) {
  TheEngine().cloud().ClearBigrams();
  GuardedVoid("kavi_cloud_bigram_clear", [] { TheEngine().RefreshCandidates(); });
}

void kavi_cloud_bigram_add(const char* first, const char* second, double weight) {
  if (!first || !second) return;
  GuardedVoid("kavi_cloud_bigram_add",
              [&] { TheEngine().cloud().AddBigram(first, second, weight); });
}

bool kavi_cloud_bigram_rebuild(void) {
  return Guarded("kavi_cloud_bigram_rebuild", false, [] {
    TheEngine().cloud().RebuildBigrams();
    TheEngine().RefreshCandidates();
    return true;
  });
}

}  // extern "C"
