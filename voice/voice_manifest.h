// SPDX-License-Identifier: Apache-2.0
// The voice model manifest: which model file each recogniser engine uses, where to fetch it,
// its size and SHA-256. The service answers it at "/voice/models"; the model store keeps a
// copy as "manifest.json".
//
//   {"_res": "ok", "models": [{"engine": "senseVoice",
//     "files": [{"name": "en-us.gguf", "url": "https://...", "sha256": "...", "bytes": 36000000}]}]}
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::win {

inline constexpr char kManifestNotOkMessage[] = "voice manifest response is not ok";
inline constexpr char kManifestModelListMessage[] = "invalid voice model list";
inline constexpr char kManifestEngineMessage[] = "invalid or duplicate voice engine";
inline constexpr char kManifestOneFileMessage[] = "Windows voice model must contain one GGUF file";
inline constexpr char kManifestFileMessage[] = "invalid voice model file";
inline constexpr char kManifestModelMessage[] = "invalid voice model";
inline constexpr char kManifestRootMessage[] = "invalid voice manifest root";
inline constexpr char kManifestNoModelsMessage[] = "voice manifest has no Windows models";

// The engines that have models (the configuration's voice_engine values).
inline constexpr char kSenseVoiceEngine[] = "senseVoice";
inline constexpr char kQwenEngine[] = "qwen3";
inline constexpr size_t kMaxManifestModels = 16;
inline constexpr uint64_t kMaxModelBytes = 2147483648u;

struct VoiceModelEntry {
  std::string engine;
  std::string name;    // the file's name in the store: ends in ".gguf", no folders
  std::string url;     // https
  std::string sha256;  // 64 lower-case hexadecimal digits
  uint64_t bytes = 0;  // 1 to 2 GiB
};

bool IsModelEngine(std::string_view engine);

// Parses the manifest; false with one of the messages above.
bool ParseVoiceManifest(std::string_view json, std::vector<VoiceModelEntry>* models,
                        std::string* error);

}  // namespace kavi::win
