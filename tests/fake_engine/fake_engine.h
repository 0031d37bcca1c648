// SPDX-License-Identifier: Apache-2.0
// A scriptable stand-in for libovra.so with the same C symbols. Tests set the candidates and
// read what the server asked of the engine. Letters compose, space/digits select, Return
// commits the raw input, '-' '=' Page Up/Down page, Up/Down move the highlight.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kavi::win::testing {

struct FakeCandidate {
  std::string text;
  std::string comment;
};

struct FakeEngine {
  // Script.
  std::vector<FakeCandidate> candidates;  // offered whenever the input is not empty
  int page_size = 5;
  std::map<std::string, std::string> hot_words;  // expanded input -> hot word
  std::map<std::string, std::string> t2s;        // kavi_convert_text "t2s" replacements
  bool context_fails = false;
  // Runs in kavi_prepare_restart, on the caller's thread and without the engine lock.
  std::function<void()> on_prepare_restart;
  // Runs first in kavi_process_key, under the engine lock: a slow engine for one key.
  std::function<void(uint32_t keycode)> on_process_key;

  // State.
  std::string input;
  int page = 0;
  int highlighted = 0;
  std::string commit_text, commit_alternative, commit_code;
  bool commit_ready = false;
  std::map<std::string, bool> options;

  // What the server did.
  int process_key_calls = 0;
  int clear_calls = 0;
  int select_calls = 0;
  int setup_calls = 0, initialize_calls = 0, cloud_init_calls = 0, finalize_calls = 0,
      sync_calls = 0, prepare_calls = 0;
  std::vector<std::pair<uint32_t, uint32_t>> keys_seen;
  std::string charset, active_schemas, selected_schema;
  int page_size_set = 0;
  std::map<std::string, bool> flags_set;  // linear, melt_eng, ext_cjk, predict, full_shape, caps
  std::vector<std::pair<std::string, std::string>> hot_replaced;
  std::vector<std::pair<std::pair<std::string, std::string>, double>> bigrams;
  int bigram_rebuilds = 0;
  std::string shared_data_dir, user_data_dir, log_dir;

  // Engine-owned string storage for returned pointers.
  std::deque<std::string> storage;

  void Reset() { *this = FakeEngine{}; }
  int PageCount() const;
  void Commit(const std::string& text);
};

FakeEngine& Fake();

}  // namespace kavi::win::testing
