// SPDX-License-Identifier: Apache-2.0
// Everything a client session is handed: the process-wide services (any may be null) and the
// state shared by all sessions.
#pragma once

#include <filesystem>
#include <functional>

#include "ports/candidate_window_port.h"
#include "ports/catalog_port.h"
#include "ports/cloud_input_port.h"
#include "ports/companion_port.h"
#include "ports/key_sound_port.h"
#include "ports/maintenance_port.h"
#include "ports/scheme_pack_port.h"
#include "ports/toolbar_port.h"
#include "ports/translation_port.h"
#include "ports/user_data_port.h"
#include "ports/voice_port.h"
#include "server/session/live_settings.h"
#include "server/session/pipe_set.h"
#include "server/session/shared_state.h"

namespace kavi::win {

class PluginEngine;

struct SessionServices {
  CandidateWindowPort* window = nullptr;
  std::filesystem::path user_data_root;
  CloudInputPort* cloud = nullptr;
  PluginEngine* plugins = nullptr;
  SchemePackPort* packs = nullptr;
  KeySoundPort* key_sounds = nullptr;
  VoicePort* voice = nullptr;
  CompanionPort* companion = nullptr;
  ToolbarPort* toolbar = nullptr;
  CatalogPort* catalog = nullptr;
  MaintenancePort* maintenance = nullptr;
  UserDataPort* user_data = nullptr;
  TranslationPort* translation = nullptr;
  // Whether the client process is the one the user is typing into.
  std::function<bool(uint32_t pid)> is_foreground;
  // Whether the client process is an input-method framework's bridge installed beside the
  // server (see foreground_rule.h); null: none is.
  std::function<bool(uint32_t pid)> is_framework_bridge;
  // The clipboard's text, for the translation command; null or empty when unavailable.
  std::function<std::string()> read_clipboard;
  // Stops the server (kind 43); called after the reply was written.
  std::function<void()> shutdown;
};

// State of the whole server that every session reads and writes.
struct ServerShared {
  FocusOwner focus_owner;
  DeferredNotice notice;
  VoiceTextSlots voice_slots;
  JobFlags jobs;
  LiveSettings settings;
  PipeSet pipes;
  HeapReleasePacer heap_release;
};

}  // namespace kavi::win
