// SPDX-License-Identifier: Apache-2.0
// kavi-voice-model: makes the voice model file that kavi-voice-ggml loads, and the manifest that
// a Kavi service serves for it at "/voice/models".
//
//   kavi-voice-model pack [--from FOLDER] [--language LANG] OUT.gguf
//       packs a pocketsphinx model laid out as Debian's pocketsphinx-en-us
//       (default /usr/share/pocketsphinx/model/en-us) into one GGUF file
//   kavi-voice-model manifest URL_BASE MODEL.gguf
//       prints the manifest naming MODEL.gguf at URL_BASE/<its name> for both engines
#include <cstdio>
#include <string>

#include "net/sha256.h"
#include "platform/file_replace.h"
#include "tools/voice-ggml/pocketsphinx_model.h"

namespace kavi::win {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kavi-voice-model pack [--from FOLDER] [--language LANG] OUT.gguf\n"
               "       kavi-voice-model manifest URL_BASE MODEL.gguf\n");
  return 2;
}

int Pack(int argc, char** argv) {
  std::filesystem::path from = kDebianPocketsphinxModel;
  std::string language = "en-us";
  std::filesystem::path out;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--from" && i + 1 < argc)
      from = argv[++i];
    else if (arg == "--language" && i + 1 < argc)
      language = argv[++i];
    else if (out.empty())
      out = arg;
    else
      return Usage();
  }
  if (out.empty()) return Usage();
  std::string file, error;
  if (!PackPocketsphinxModel(from, language, &file, &error)) {
    std::fprintf(stderr, "kavi-voice-model: %s\n", error.c_str());
    return 1;
  }
  ReplaceFailure failure;
  if (!ReplaceFile(out, file,
                   std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                       std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                   &failure)) {
    std::fprintf(stderr, "kavi-voice-model: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}

int Manifest(int argc, char** argv) {
  if (argc != 4) return Usage();
  std::string base = argv[2];
  while (!base.empty() && base.back() == '/') base.pop_back();
  const std::filesystem::path model = argv[3];
  std::string sha256, error;
  if (!Sha256File(model, &sha256, &error)) {
    std::fprintf(stderr, "kavi-voice-model: %s: %s\n", model.c_str(), error.c_str());
    return 1;
  }
  const std::string file = "{\"name\": \"" + model.filename().string() + "\", \"url\": \"" + base +
                           "/" + model.filename().string() + "\", \"sha256\": \"" + sha256 +
                           "\", \"bytes\": " + std::to_string(std::filesystem::file_size(model)) +
                           "}";
  std::printf(
      "{\"_res\": \"ok\", \"models\": [\n"
      "  {\"engine\": \"senseVoice\", \"files\": [%s]},\n"
      "  {\"engine\": \"qwen3\", \"files\": [%s]}\n"
      "]}\n",
      file.c_str(), file.c_str());
  return 0;
}

}  // namespace
}  // namespace kavi::win

int main(int argc, char** argv) {
  if (argc < 2) return kavi::win::Usage();
  const std::string command = argv[1];
  if (command == "pack") return kavi::win::Pack(argc, argv);
  if (command == "manifest") return kavi::win::Manifest(argc, argv);
  return kavi::win::Usage();
}
