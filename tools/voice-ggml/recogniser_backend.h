// SPDX-License-Identifier: Apache-2.0
// A speech recogniser inside kavi-voice-ggml. The helper's protocol, its command line and its
// model file stay the same whichever backend runs: the model file's architecture picks it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/voice-ggml/gguf_file.h"

namespace kavi::win {

class RecogniserBackend {
 public:
  virtual ~RecogniserBackend() = default;
  // The backend's name for the log ("pocketsphinx").
  virtual std::string name() const = 0;
  // Loads the model from the file's bytes (which may be dropped afterwards).
  virtual bool Load(std::string_view file, const GgufIndex& index, std::string* error) = 0;
  // The language the model hears, e.g. "en-us".
  virtual std::string language() const = 0;
  // Recognises 16 kHz 16-bit mono speech; an empty text when nothing was heard.
  virtual bool Recognise(const std::vector<int16_t>& samples, std::string* text,
                         std::string* error) = 0;
};

// The backend for a model file's architecture (general.architecture); null when none is built
// in. A GGUF speech runtime (SenseVoice, Whisper) goes here next to pocketsphinx.
std::unique_ptr<RecogniserBackend> MakeRecogniserBackend(std::string_view architecture);

}  // namespace kavi::win
