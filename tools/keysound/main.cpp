// SPDX-License-Identifier: Apache-2.0
// kavi-keysound-gen: synthesises the eleven key sounds and writes them as CAF files.
//
//   kavi-keysound-gen OUTPUT_DIR
//
// The files in sounds/ are this program's output; run it again after changing a recipe.
#include <filesystem>
#include <iostream>

#include "platform/file_replace.h"
#include "sound/caf_file.h"
#include "tools/keysound/key_sound_recipes.h"

int main(int argc, char** argv) {
  using namespace kavi::win;
  if (argc != 2) {
    std::cerr << "usage: kavi-keysound-gen OUTPUT_DIR\n";
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  for (const KeySoundRecipe& recipe : KeySoundRecipes()) {
    const std::vector<uint8_t> bytes = WriteCaf(SynthesizeKeySound(recipe.type));
    const std::filesystem::path path = dir / (std::string(recipe.type) + ".caf");
    ReplaceFailure failure;
    if (!ReplaceFile(path,
                     std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                     std::filesystem::perms(0644), &failure)) {
      std::cerr << "cannot write " << path << "\n";
      return 1;
    }
    std::cout << path.string() << "\n";
  }
  return 0;
}
