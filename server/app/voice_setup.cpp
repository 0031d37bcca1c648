// SPDX-License-Identifier: Apache-2.0
#include "server/app/voice_setup.h"

#include <cstdlib>

#include "net/service_endpoints.h"
#include "ovra/engine_api.h"
#include "platform/audio/alsa_device.h"
#include "platform/log.h"
#include "platform/signature/detached_signature.h"
#include "server/engine/engine_lock.h"

namespace kavi::win::server {
namespace {

// The engine's conversion for a script target: "cn" simplified, "tw" traditional, "follow" the
// configured charset. The text stays as it is when the engine cannot convert it.
std::string ConvertScript(const std::string& text, const std::string& target,
                          const LiveSettings& settings) {
  const bool simplified =
      target == "cn" || (target != "tw" && settings.Get().simplified_output());
  std::lock_guard<std::mutex> hold(EngineLock());
  char* converted = kavi_convert_text(text.c_str(), simplified ? "t2s" : "s2t");
  if (converted == nullptr) return text;
  std::string result(converted);
  std::free(converted);
  return result;
}

}  // namespace

std::unique_ptr<VoiceController> MakeVoiceController(const ServerDirectories& dirs,
                                                     ServerShared* shared, ConfigStore* config,
                                                     PcmCaptureFactory microphone) {
  VoiceControllerOptions options;
  options.program_dir = dirs.install;
  options.models_dir = dirs.voice_models;
  options.temp_dir = dirs.voice_temp;
  options.log_dir = dirs.logs;
  options.trust_anchors = TrustAnchorPaths(dirs.installed_data, dirs.user_root);
  options.service = [shipped = dirs.installed_data / kEndpointsFileName,
                     user = dirs.user_root / kEndpointsFileName] {
    std::string problems;
    ServiceEndpoints endpoints = LoadServiceEndpoints(shipped, user, &problems);
    if (!problems.empty()) LogLine("[Kavi] " + problems + "\n");
    return endpoints;
  };
  // The text goes to the focus owner's slot, or with the alternate flag to the slot that kind 29
  // empties; a failure's message is queued as a preview instead of a commit.
  options.notifier = [shared](bool ok, const std::string& text, bool origin) {
    const int slot = origin ? VoiceTextSlots::kResultSlot : VoiceTextSlots::kOwnerSlot;
    if (slot == VoiceTextSlots::kOwnerSlot && shared->focus_owner.Empty()) {
      LogLine(kNoVoiceTargetLog);
      return;
    }
    shared->voice_slots.Fill(slot, ok, text);
  };
  options.converter = [shared](const std::string& text, const std::string& target) {
    return ConvertScript(text, target, shared->settings);
  };
  options.load_settings = [config](ConfigRecord* loaded) {
    std::string message;
    return config->Load(loaded, &message);
  };
  options.microphone =
      microphone ? std::move(microphone) : [] { return MakeAlsaCapture(kDefaultPcmDevice); };
  auto controller = std::make_unique<VoiceController>(std::move(options));
  controller->UpdateConfig(config->Snapshot());
  return controller;
}

void RunVoiceDeepLink(VoicePort* voice, RequestKind kind) {
  const int command = static_cast<int>(kind) - static_cast<int>(RequestKind::VoiceToggle);
  std::string message;
  if (!voice || !voice->Command(command, false, &message)) LogLine(kVoiceDeepLinkFailedLog);
}

}  // namespace kavi::win::server
