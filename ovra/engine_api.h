// SPDX-License-Identifier: Apache-2.0
// The conversion engine's C interface (libovra.so). Every call but kavi_prepare_restart is made
// while holding the EngineLock (engine_lock.h). Strings are UTF-8. Pointers the engine returns
// stay valid until the next engine call, except kavi_convert_text, whose result the caller frees
// with free().
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The user's files that the engine follows in its user data directory: phrases behind short
// codes, and pinyin options (fuzzy sounds) added to every pinyin scheme.
#define KAVI_CUSTOM_PHRASES_FILE "custom_phrases.txt"
#define KAVI_USER_PINYIN_OPTIONS_FILE "pinyin.custom.yaml"

// Argument of kavi_setup, eight fields in this order.
typedef struct KaviTraits {
  const char* shared_data_dir;
  const char* user_data_dir;
  const char* log_dir;
  const char* distribution_name;       // "Kavi"
  const char* distribution_code_name;  // "kavi-win"
  const char* distribution_version;    // "0.5.1"
  const char* app_name;                // "KaviServer"
  int32_t min_log_level;               // 1
} KaviTraits;

typedef struct KaviCandidate {
  char* text;
  char* comment;
} KaviCandidate;

// The input context, 96 bytes, zeroed by the caller.
typedef struct KaviContext {
  int32_t composition_length;
  int32_t cursor;  // bytes into preedit
  int32_t selection_start;
  int32_t selection_end;
  char* preedit;
  int32_t page_size;
  int32_t page_number;  // 0-based
  // The menu count word: the total number of candidates the current composition has (all
  // pages), capped at INT32_MAX. The server copies it and compares it with 1; the candidate
  // window shows paging when it is above the page size.
  int32_t menu_count;
  uint8_t is_last_page;
  uint8_t padding_[3];
  int32_t highlighted;  // index on the page
  int32_t num_candidates;
  KaviCandidate* candidates;
  uint8_t private_[40];
} KaviContext;

// A commit record, 24 bytes, zeroed by the caller.
typedef struct KaviCommit {
  char* text;
  char* alternative_text;
  char* input_code;
} KaviCommit;

typedef struct KaviCandidateList {
  int32_t count;
  KaviCandidate* candidates;
} KaviCandidateList;

void kavi_setup(const KaviTraits* traits);
void kavi_initialize(void);
void kavi_cloud_init(void);
void kavi_finalize(void);
void kavi_sync_user_data(void);
// Reads the user's files in the user data directory again where they changed on disk (the
// watcher of the configuration directory calls it when one is rewritten).
void kavi_reload_user_files(void);
// The one call made without the EngineLock, while other threads use the engine: reads the
// current scheme's dictionaries ahead of a restart, so that the next kavi_initialize after a
// kavi_finalize holds the engine down only while it adds the user's learned data.
void kavi_prepare_restart(void);

bool kavi_process_key(uint32_t keycode, uint32_t modifiers);
bool kavi_get_commit(KaviCommit* commit);
bool kavi_get_context(KaviContext* context);
void kavi_free_context(KaviContext* context);
bool kavi_get_all_candidates(KaviCandidateList* list, int32_t max_count);
void kavi_free_all_candidates(KaviCandidateList* list);
const char* kavi_get_input(void);
const char* kavi_expand_input(const char* input);
// index_on_page counts from the first candidate of the current page; an index past the page
// reaches later candidates (the expanded panel selects any of the first 100 this way).
bool kavi_select_candidate(int32_t index_on_page);
bool kavi_highlight_candidate(int32_t index_on_page);
bool kavi_change_page(bool backward);
void kavi_clear_composition(void);
bool kavi_get_option(const char* name);
void kavi_set_option(const char* name, bool value);
char* kavi_convert_text(const char* text, const char* mode);

void kavi_set_page_size(int32_t page_size);
void kavi_set_charset(const char* charset);
void kavi_set_linear(bool linear);
void kavi_set_enable_melt_eng(bool enable);
void kavi_set_enable_ext_cjk(bool enable);
void kavi_set_enable_predict(bool enable);
void kavi_set_full_shape(bool full_shape);
void kavi_set_good_old_caps_lock(bool good_old);
// A comma-separated list of scheme ids that may be switched between.
void kavi_set_active_schemas(const char* schema_ids);
bool kavi_select_schema(const char* schema_id);

const char* kavi_cloud_hot_lookup(const char* expanded_input);
bool kavi_cloud_hot_replace(const char* const* keys, const char* const* values, int32_t count);
void kavi_cloud_hot_clear(void);
void kavi_cloud_bigram_clear(void);
void kavi_cloud_bigram_add(const char* first, const char* second, double weight);
bool kavi_cloud_bigram_rebuild(void);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(KaviContext) == 96, "the context is 96 bytes");
static_assert(sizeof(KaviCommit) == 24, "the commit record is 24 bytes");
#endif
