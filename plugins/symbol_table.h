// SPDX-License-Identifier: Apache-2.0
// symbols.txt: "code TAB symbols" lines, one category each, listed by the `fh` command.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "plugins/plugin_types.h"

namespace kavi::win {

class SymbolTable {
 public:
  // Keeps every line with a TAB (a repeated code replaces the earlier list); returns false when
  // nothing was kept.
  bool Parse(std::string_view text);

  // `argument` is the text after "fh": the category list when empty, else the category named
  // and the categories whose code starts with it.
  PluginPage Page(std::string_view argument) const;

 private:
  std::map<std::string, std::vector<std::string>> categories_;
};

}  // namespace kavi::win
