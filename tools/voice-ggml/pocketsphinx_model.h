// SPDX-License-Identifier: Apache-2.0
// How a pocketsphinx model lies in a voice model file: each file of the model is a byte tensor
// named after the decoder option that reads it. kavi-voice-model packs the Debian model this
// way; the recogniser's pocketsphinx backend unpacks it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kPocketsphinxArchitecture[] = "pocketsphinx";
inline constexpr char kPocketsphinxLanguageKey[] = "pocketsphinx.language";

struct PocketsphinxPart {
  const char* tensor;        // the tensor's name in the model file
  const char* option;        // the decoder option given the unpacked file
  const char* source;        // where the Debian model keeps it, relative to its folder
  bool required;
};

// The acoustic model (the "en-us" folder), the language model and the pronunciation dictionary.
inline constexpr PocketsphinxPart kPocketsphinxParts[] = {
    {"pocketsphinx.hmm.mdef", "-mdef", "en-us/mdef", true},
    {"pocketsphinx.hmm.means", "-mean", "en-us/means", true},
    {"pocketsphinx.hmm.variances", "-var", "en-us/variances", true},
    {"pocketsphinx.hmm.transition_matrices", "-tmat", "en-us/transition_matrices", true},
    {"pocketsphinx.hmm.sendump", "-sendump", "en-us/sendump", false},
    {"pocketsphinx.hmm.mixture_weights", "-mixw", "en-us/mixture_weights", false},
    {"pocketsphinx.hmm.feat.params", "-featparams", "en-us/feat.params", true},
    {"pocketsphinx.hmm.noisedict", "-fdict", "en-us/noisedict", true},
    {"pocketsphinx.lm", "-lm", "en-us.lm.bin", true},
    {"pocketsphinx.dict", "-dict", "cmudict-en-us.dict", true},
};

// Where Debian's pocketsphinx-en-us puts the model.
inline constexpr char kDebianPocketsphinxModel[] = "/usr/share/pocketsphinx/model/en-us";

// Packs the model under `folder` (laid out as Debian's) into a voice model file's bytes. False
// with a reason when a required file is missing or unreadable.
bool PackPocketsphinxModel(const std::filesystem::path& folder, std::string_view language,
                           std::string* file, std::string* error);

}  // namespace kavi::win
