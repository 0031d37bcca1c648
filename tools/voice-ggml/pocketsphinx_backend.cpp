// SPDX-License-Identifier: Apache-2.0
// The pocketsphinx backend: the model file's byte tensors are handed to the decoder as
// anonymous in-memory files (memfd), so that the model is loaded from the one file the server
// resolved and checked, never from another copy on disk.
#include <pocketsphinx.h>

#include "platform/memory_file.h"
#include "tools/voice-ggml/pocketsphinx_model.h"
#include "tools/voice-ggml/recogniser_backend.h"

namespace kavi::win {
namespace {

class PocketsphinxBackend final : public RecogniserBackend {
 public:
  ~PocketsphinxBackend() override {
    if (decoder_) ps_free(decoder_);
  }

  std::string name() const override { return kPocketsphinxArchitecture; }
  std::string language() const override { return language_; }

  bool Load(std::string_view file, const GgufIndex& index, std::string* error) override {
    language_ = index.String(kPocketsphinxLanguageKey);
    std::vector<std::string> arguments;
    for (const PocketsphinxPart& part : kPocketsphinxParts) {
      const GgufTensor* tensor = index.Find(part.tensor);
      if (!tensor) {
        if (!part.required) continue;
        *error = std::string("model file lacks ") + part.tensor;
        return false;
      }
      std::unique_ptr<MemoryFile> unpacked =
          MemoryFile::Create(part.tensor, file.substr(tensor->offset, tensor->bytes), error);
      if (!unpacked) return false;
      arguments.push_back(part.option);
      arguments.push_back(unpacked->path());
      // The language model is mapped, not read: its file lives as long as the decoder.
      files_.push_back(std::move(unpacked));
    }
    // The decoder's own log is hundreds of lines a recording; the helper logs one.
    arguments.insert(arguments.end(), {"-logfn", "/dev/null"});
    // The decoder's option parser skips the first word, as a program's name.
    arguments.insert(arguments.begin(), "kavi-voice-ggml");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    cmd_ln_t* config =
        cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE);
    if (!config) {
      *error = "pocketsphinx refused the model's options";
      return false;
    }
    decoder_ = ps_init(config);
    cmd_ln_free_r(config);  // the decoder keeps its own reference
    if (!decoder_) {
      *error = "pocketsphinx cannot load the model";
      return false;
    }
    return true;
  }

  bool Recognise(const std::vector<int16_t>& samples, std::string* text,
                 std::string* error) override {
    if (ps_start_utt(decoder_) < 0 ||
        ps_process_raw(decoder_, samples.data(), samples.size(), FALSE, TRUE) < 0 ||
        ps_end_utt(decoder_) < 0) {
      *error = "pocketsphinx cannot decode the recording";
      return false;
    }
    int32 score = 0;
    const char* hypothesis = ps_get_hyp(decoder_, &score);
    text->assign(hypothesis ? hypothesis : "");
    return true;
  }

 private:
  ps_decoder_t* decoder_ = nullptr;
  std::vector<std::unique_ptr<MemoryFile>> files_;
  std::string language_;
};

}  // namespace

std::unique_ptr<RecogniserBackend> MakeRecogniserBackend(std::string_view architecture) {
  if (architecture == kPocketsphinxArchitecture) return std::make_unique<PocketsphinxBackend>();
  return nullptr;
}

}  // namespace kavi::win
