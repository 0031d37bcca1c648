// SPDX-License-Identifier: Apache-2.0
// The toolbar's translate button: a small window near the pointer that translates the clipboard
// (or what the user types into it) through the translation path the server's translation
// command uses, Kavi's service named by the endpoints files, and copies the result on request.
#pragma once

#include <adwaita.h>

#include <filesystem>
#include <memory>
#include <string>

#include "net/http_cancellation.h"
#include "tools/settings/server_link.h"
#include "tools/settings/settings_store.h"
#include "tools/settings/window/gtk_support.h"

namespace kavi::win {

class TranslatePopup {
 public:
  // The object lives as long as its window.
  static void Open(GtkApplication* app, std::filesystem::path config_directory, int x, int y);

 private:
  TranslatePopup(GtkApplication* app, std::filesystem::path config_directory, int x, int y);
  ~TranslatePopup();

  void Build(GtkApplication* app);
  void Place();
  void ReadClipboard();
  void Translate();
  void ShowResult(bool ok, const std::string& text);
  std::string Target() const;

  SettingsStore store_;
  AliveToken alive_;
  // Translations run on this link's thread; its server connection is never used.
  std::unique_ptr<ServerLink> worker_;
  HttpCancellation cancellation_;
  std::vector<std::string> targets_;
  int x_;
  int y_;
  GtkWidget* window_ = nullptr;
  GtkWidget* source_ = nullptr;
  GtkWidget* target_ = nullptr;
  GtkWidget* translate_ = nullptr;
  GtkWidget* spinner_ = nullptr;
  GtkWidget* result_ = nullptr;
  GtkWidget* copy_ = nullptr;
  GtkWidget* status_ = nullptr;
  std::string translation_;
  int generation_ = 0;
};

}  // namespace kavi::win
