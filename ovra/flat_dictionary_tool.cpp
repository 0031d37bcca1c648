// SPDX-License-Identifier: Apache-2.0
// kavi-flat-dictionary: writes the flat list of a libime pinyin dictionary
// (ovra/flat_dictionary.h), which the engine reads at start-up in place of the dictionary while the
// dictionary stays as it was when the list was made.
//
//   kavi-flat-dictionary DICTIONARY OUTPUT
//
// The build runs it for the shipped schemes' system dictionary (packs/CMakeLists.txt).
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "ovra/flat_dictionary.h"
#include "platform/file_replace.h"

int main(int argc, char** argv) {
  using namespace kavi::win;
  if (argc != 3) {
    std::cerr << "usage: kavi-flat-dictionary DICTIONARY OUTPUT\n";
    return 2;
  }
  const std::filesystem::path dictionary = argv[1];
  const std::filesystem::path output = argv[2];
  FlatDictionarySource source;
  if (!StampDictionary(dictionary, &source)) {
    std::cerr << "cannot read " << dictionary.string() << "\n";
    return 1;
  }
  libime::PinyinDictionary dict;
  try {
    dict.load(libime::PinyinDictionary::SystemDict, dictionary.c_str(),
              libime::PinyinDictFormat::Binary);
  } catch (const std::exception& e) {
    std::cerr << "cannot load " << dictionary.string() << ": " << e.what() << "\n";
    return 1;
  }
  std::string bytes;
  if (!EncodeFlatDictionary(*dict.trie(libime::PinyinDictionary::SystemDict), source, &bytes)) {
    std::cerr << dictionary.string() << " has a key too long for a flat list\n";
    return 1;
  }
  std::error_code error;
  std::filesystem::create_directories(output.parent_path(), error);
  ReplaceFailure failure;
  if (!ReplaceFile(output, bytes, std::filesystem::perms(0644), &failure)) {
    std::cerr << "cannot write " << output.string() << "\n";
    return 1;
  }
  return 0;
}
