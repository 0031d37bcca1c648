// SPDX-License-Identifier: Apache-2.0
// The voice controller as the server builds it: its folders and trust anchors, the service
// named by the endpoints files, the engine's script conversion, and the completion notifier
// that queues the finished text in the voice text slots for the clients' polls.
#pragma once

#include <memory>
#include <optional>

#include "config/config_store.h"
#include "platform/audio/pcm_input.h"
#include "protocol/pipe_records.h"
#include "server/app/server_directories.h"
#include "server/session/session_services.h"
#include "voice/voice_controller.h"

namespace kavi::win::server {

inline constexpr char kNoVoiceTargetLog[] = "[Kavi] 語音完成時沒有可插入的輸入目標\n";
inline constexpr char kVoiceDeepLinkFailedLog[] = "[Kavi] 語音 deeplink 執行失敗\n";

// `microphone` makes the capture streams (the default ALSA device when null).
std::unique_ptr<VoiceController> MakeVoiceController(const ServerDirectories& dirs,
                                                     ServerShared* shared, ConfigStore* config,
                                                     PcmCaptureFactory microphone = nullptr);

// Runs the command of a voice deep link (kinds 22 to 25) and logs a failure.
void RunVoiceDeepLink(VoicePort* voice, RequestKind kind);

}  // namespace kavi::win::server
