// SPDX-License-Identifier: Apache-2.0
// Random key sequences (keysyms and modifiers) and the engine's other calls, through the C
// interface of libovra.so. Every composition is dropped at the end of an input so inputs stay
// independent; the engine must never crash or leak whatever arrives.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ovra/engine_api.h"

namespace {

// Keys with a meaning to the engine, so random bytes reach them often.
constexpr uint32_t kKeys[] = {
    0xFF08, 0xFF0D, 0xFF1B, 0xFFFF, 0xFF51, 0xFF52, 0xFF53, 0xFF54, 0xFF55, 0xFF56,
    0xFF50, 0xFF57, 0xFF09, 0xFF8D, 0xFFE5, 0xFFE1, 0x20,   '\'',   ';',    ',',
    '.',    '-',    '=',    '1',    '5',    '0',    '!',    '"',    'A',    'Z',
};
constexpr uint32_t kModifiers[] = {0, 0, 0, 0, 0x4, 0x8, 0x4000000, 0x40000000};
const char* const kSchemes[] = {"base_pinyin", "double_pinyin_ms", "wubi86", "cangjie"};

std::string g_user_dir;

void RemoveUserDir() {
  std::error_code ec;
  std::filesystem::remove_all(g_user_dir, ec);
}

void DrainOutputs() {
  KaviCommit commit{};
  kavi_get_commit(&commit);
  KaviContext context{};
  if (kavi_get_context(&context)) kavi_free_context(&context);
}

}  // namespace

// The dictionaries hold millions of allocations; short allocation stacks keep ASan's bookkeeping
// from dominating every run. Leaks are still reported, with shorter traces.
extern "C" const char* __asan_default_options() {
  return "malloc_context_size=4";
}

// libime keeps lookup caches from one input to the next, so allocations and frees of an input
// never balance and libFuzzer would rescan the whole dictionary heap for leaks after every run.
// The leak check therefore runs once, at exit, over everything all inputs left behind.
static void CheckLeaksOnlyAtExit(int* argc, char*** argv) {
  static std::vector<char*> args;
  static char flag[] = "-detect_leaks=0";
  args.assign(*argv, *argv + *argc);
  args.insert(args.begin() + 1, flag);
  args.push_back(nullptr);
  *argc = static_cast<int>(args.size()) - 1;
  *argv = args.data();
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  CheckLeaksOnlyAtExit(argc, argv);
  char pattern[] = "/tmp/kavi-ovra-fuzz-XXXXXX";
  if (!mkdtemp(pattern)) std::abort();
  g_user_dir = pattern;
  std::atexit(RemoveUserDir);
  const char* data_dir = std::getenv("KAVI_OVRA_DATA_DIR");
  static std::string shared = data_dir ? data_dir : KAVI_OVRA_FUZZ_DATA_DIR;
  static std::string logs = g_user_dir + "/logs";
  KaviTraits traits{shared.c_str(), g_user_dir.c_str(),
                    logs.c_str(),   "Kavi",
                    "kavi-win",     "0.5.1",
                    "KaviServer",   1};
  // Short codes, so that random keys reach custom phrases (at every kind of position) too.
  std::ofstream(g_user_dir + "/" KAVI_CUSTOM_PHRASES_FILE)
      << "a\tA\t1\na\tA\\nB\t3\nab\tAB\t99\nz\tZ\t2\nz\tZZ\t2\n";
  kavi_setup(&traits);
  kavi_initialize();
  kavi_cloud_init();
  // The first scheme loads in the background; wait for it here, where no time limit runs.
  DrainOutputs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t i = 0;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  while (i < size) {
    uint8_t op = next();
    uint8_t arg = next();
    if (op < 0xC0) {
      // Mostly letters, so compositions get long and candidates many.
      uint32_t key = op < 0x80   ? static_cast<uint32_t>('a' + op % 26)
                     : op < 0xA0 ? kKeys[arg % std::size(kKeys)]
                                 : static_cast<uint32_t>(0x20 + arg % 0x5F);
      kavi_process_key(key, kModifiers[(arg >> 5) % std::size(kModifiers)]);
      continue;
    }
    switch (op % 16) {
      case 0:
        kavi_select_candidate(arg % 12 - 1);
        break;
      case 1:
        kavi_highlight_candidate(arg % 12 - 1);
        break;
      case 2:
        kavi_change_page(arg & 1);
        break;
      case 3:
        kavi_set_page_size(arg % 12);
        break;
      case 4:
        kavi_set_charset(arg & 1 ? "zht" : "zhs");
        break;
      case 5:
        kavi_set_enable_melt_eng(arg & 1);
        break;
      case 6:
        kavi_set_enable_predict(arg & 1);
        break;
      case 7:
        kavi_set_full_shape(arg & 1);
        break;
      case 8:
        kavi_set_linear(arg & 1);
        break;
      case 9:
        kavi_set_option("ascii_mode", arg & 1);
        break;
      case 10:
        kavi_set_good_old_caps_lock(arg & 1);
        break;
      case 11: {
        KaviCandidateList list{};
        if (kavi_get_all_candidates(&list, arg)) kavi_free_all_candidates(&list);
        break;
      }
      case 12: {
        const char* input = kavi_get_input();
        if (input) kavi_expand_input(std::string(input).c_str());
        break;
      }
      case 13: {
        // Switching loads a scheme from disk: keep it rare.
        if (arg > 0xF0) kavi_select_schema(kSchemes[arg % std::size(kSchemes)]);
        break;
      }
      case 14: {
        kavi_cloud_bigram_clear();
        kavi_cloud_bigram_add("你", "好", arg);
        kavi_cloud_bigram_rebuild();
        break;
      }
      default:
        DrainOutputs();
        break;
    }
  }
  DrainOutputs();
  kavi_clear_composition();
  return 0;
}
