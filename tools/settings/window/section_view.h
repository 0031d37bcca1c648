// SPDX-License-Identifier: Apache-2.0
// A section of a settings page as the window holds it: its widgets, and what it does when the
// settings change on disk or the user turns to its page. The window builds one for every
// section the page model lists.
#pragma once

#include <adwaita.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "config/config_record.h"
#include "tools/settings/job_watch.h"
#include "tools/settings/server_link.h"
#include "tools/settings/settings_store.h"
#include "tools/settings/window/gtk_support.h"
#include "tools/settings/window_pages.h"

namespace kavi::win {

// The control of one key: how to show the stored value, and the widget that takes the focus
// for --key=KEY.
struct RowBinding {
  std::function<void(const ConfigRecord&)> show;
  GtkWidget* focus = nullptr;
};

// What the window lends its sections.
struct SectionContext {
  GtkWindow* window = nullptr;
  const SettingsStore* store = nullptr;
  ServerLink* link = nullptr;
  AliveToken alive;
  JobWatch::Schedule schedule;
  std::filesystem::path config_directory;
  // The settings as last read or saved.
  std::function<const ConfigRecord&()> record;
  // Saves one key (of the two files or the endpoints); on failure tells the user why, shows the
  // stored values again and returns false.
  std::function<bool(const std::string& key, const std::string& value)> apply;
  std::function<void(const std::string& text)> toast;
  // Asks every section of the page in view to look again (after a job changed what they show).
  std::function<void()> refresh_page;
  // True while the window shows stored values in its controls: their change signals then are
  // not the user's.
  const bool* showing = nullptr;
  std::map<std::string, RowBinding>* bindings = nullptr;
};

class SectionView {
 public:
  virtual ~SectionView() = default;
  // An AdwPreferencesGroup.
  virtual GtkWidget* Widget() = 0;
  // The user turned to the section's page: ask the server afresh.
  virtual void PageShown() {}
  virtual void SettingsChanged(const ConfigRecord&) {}
};

// The row for one key, registered in ctx.bindings.
GtkWidget* BuildSettingRow(const SettingRow& row, SectionContext& ctx);

// A group of title, description and the rows of `section`.
GtkWidget* SettingsGroup(const PageSection& section, SectionContext& ctx);

std::unique_ptr<SectionView> MakeSection(const PageSection& section, SectionContext& ctx);

// The sections of their own, in the files that build them.
std::unique_ptr<SectionView> MakeSchemeSection(const PageSection& section, SectionContext& ctx);
std::unique_ptr<SectionView> MakeSchemeCatalogueSection(const PageSection& section,
                                                        SectionContext& ctx);
std::unique_ptr<SectionView> MakeThemeGallerySection(const PageSection& section,
                                                     SectionContext& ctx);
std::unique_ptr<SectionView> MakeFuzzySoundsSection(const PageSection& section,
                                                    SectionContext& ctx);
std::unique_ptr<SectionView> MakeDarkModeSection(const PageSection& section, SectionContext& ctx);
std::unique_ptr<SectionView> MakeVoiceModelsSection(const PageSection& section,
                                                    SectionContext& ctx);
std::unique_ptr<SectionView> MakeCompanionSection(const PageSection& section, SectionContext& ctx);
std::unique_ptr<SectionView> MakeSchemePacksSection(const PageSection& section,
                                                    SectionContext& ctx);
std::unique_ptr<SectionView> MakeMaintenanceSection(const PageSection& section,
                                                    SectionContext& ctx);
std::unique_ptr<SectionView> MakeBackupsSection(const PageSection& section, SectionContext& ctx);
std::unique_ptr<SectionView> MakeCloudWordsSection(const PageSection& section, SectionContext& ctx);
std::unique_ptr<SectionView> MakeVersionSection(const PageSection& section, SectionContext& ctx);
std::unique_ptr<SectionView> MakeProgramStateSection(const PageSection& section,
                                                     SectionContext& ctx);
std::unique_ptr<SectionView> MakePendingUpdateSection(const PageSection& section,
                                                      SectionContext& ctx);
std::unique_ptr<SectionView> MakeLicencesSection(const PageSection& section, SectionContext& ctx);

}  // namespace kavi::win
