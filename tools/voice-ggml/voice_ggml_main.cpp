// SPDX-License-Identifier: Apache-2.0
// kavi-voice-ggml ENGINE MODEL: the local speech recogniser that the Kavi server runs as its
// voice helper. It loads the model file, answers "READY" (or "ERR\t<message>") on standard
// output, then reads one request line per recording ("<wav path>\t<language>") and answers
// each with one line, "OK\t<text>" or "ERR\t<message>". Its log goes to standard error.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "platform/file_read.h"
#include "tools/voice-ggml/gguf_file.h"
#include "tools/voice-ggml/recogniser_backend.h"
#include "voice/helper_protocol.h"
#include "voice/wav_file.h"

namespace kavi::win {
namespace {

// The largest model the store accepts (2 GiB), and a generous bound for one recording (five
// minutes are 9.6 MB).
constexpr uintmax_t kMaxModelBytes = 2147483648u;
constexpr uintmax_t kMaxWavBytes = 64u << 20;

void Answer(const std::string& line) {
  std::string clean = line;
  // A line break or tab inside a text would break the protocol's framing.
  for (size_t i = std::string(kOkPrefix).size(); i < clean.size(); ++i)
    if (clean[i] == '\n' || clean[i] == '\r') clean[i] = ' ';
  std::fwrite(clean.data(), 1, clean.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Log(const std::string& text) {
  std::fprintf(stderr, "kavi-voice-ggml: %s\n", text.c_str());
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// One request: the reply line.
std::string Serve(RecogniserBackend& backend, const std::string& request) {
  const size_t tab = request.find('\t');
  if (tab == std::string::npos) return kErrorPrefix + std::string("malformed request");
  const std::string path = request.substr(0, tab);
  const std::string language = request.substr(tab + 1);
  if (language != kAutoLanguage && language != backend.language() &&
      language != backend.language().substr(0, 2))
    return kErrorPrefix + ("the model does not hear " + language);
  std::string bytes;
  if (ReadRegularFile(path, kMaxWavBytes, &bytes) != ReadFileResult::kRead)
    return kErrorPrefix + ("cannot read " + path);
  PcmWav wav;
  std::string error;
  if (!DecodePcmWav(bytes, &wav, &error)) return kErrorPrefix + error;
  if (wav.sample_rate != kRecogniserSampleRate)
    return kErrorPrefix + std::string("the recording is not at 16 kHz");
  const auto start = std::chrono::steady_clock::now();
  std::string text;
  if (!backend.Recognise(wav.samples, &text, &error)) return kErrorPrefix + error;
  Log("recognised " + std::to_string(wav.samples.size() / 16) + " ms of speech in " +
      std::to_string(MillisecondsSince(start)) + " ms");
  // Nothing heard is a blank text: the server tells the user that it heard no speech.
  return kOkPrefix + (text.empty() ? std::string(" ") : text);
}

int Run(int argc, char** argv) {
  if (argc != 3) {
    Answer(kErrorPrefix + std::string("usage: kavi-voice-ggml ENGINE MODEL"));
    return 2;
  }
  const std::string engine = argv[1];
  const std::string model_path = argv[2];
  if (!IsHelperEngineWord(engine)) {
    Answer(kErrorPrefix + ("unknown engine " + engine));
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::string file;
  if (ReadRegularFile(model_path, kMaxModelBytes, &file) != ReadFileResult::kRead) {
    Answer(kErrorPrefix + ("cannot read the model file " + model_path));
    return 1;
  }
  GgufIndex index;
  std::string error;
  if (!ParseGguf(file, &index, &error)) {
    Answer(kErrorPrefix + (model_path + ": " + error));
    return 1;
  }
  const std::string architecture = index.String(kGgufArchitectureKey);
  std::unique_ptr<RecogniserBackend> backend = MakeRecogniserBackend(architecture);
  if (!backend) {
    Answer(kErrorPrefix + ("no recogniser for models of architecture \"" + architecture + "\""));
    return 1;
  }
  if (!backend->Load(file, index, &error)) {
    Answer(kErrorPrefix + error);
    return 1;
  }
  file.clear();
  file.shrink_to_fit();
  // Both engine words select the backend that is built in; the log says which one ran.
  Log("engine \"" + engine + "\" runs on the " + backend->name() + " backend (model \"" +
      index.String(kGgufNameKey) + "\", language " + backend->language() + "), loaded in " +
      std::to_string(MillisecondsSince(start)) + " ms");
  Answer(kReadyLine);
  std::string request;
  while (std::getline(std::cin, request)) {
    if (!request.empty() && request.back() == '\r') request.pop_back();
    Answer(Serve(*backend, request));
  }
  return 0;
}

}  // namespace
}  // namespace kavi::win

int main(int argc, char** argv) {
  return kavi::win::Run(argc, argv);
}
