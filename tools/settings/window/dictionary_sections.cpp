// SPDX-License-Identifier: Apache-2.0
// The dictionary page: the server's maintenance jobs (sync and back up, kind 13; redeploy, 14;
// followed with 15) and the backups the sync job leaves.
#include "tools/settings/job_watch.h"
#include "tools/settings/user_data_files.h"
#include "tools/settings/window/section_view.h"

namespace kavi::win {

namespace {

constexpr size_t kBackupsShown = 5;

std::string SizeText(uintmax_t bytes) {
  char text[32];
  if (bytes >= 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024 * 1024));
  else
    std::snprintf(text, sizeof text, "%.0f KB", std::max(1.0, static_cast<double>(bytes) / 1024));
  return text;
}

void OpenFolder(GtkWindow* window, const std::filesystem::path& folder) {
  GFile* file = g_file_new_for_path(folder.c_str());
  char* uri = g_file_get_uri(file);
  gtk_show_uri(window, uri, GDK_CURRENT_TIME);
  g_free(uri);
  g_object_unref(file);
}

class MaintenanceSection final : public SectionView {
 public:
  MaintenanceSection(const PageSection& section, SectionContext& ctx)
      : ctx_(ctx), watch_(*ctx.link, ctx.schedule) {
    group_ = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group_),
                                    std::string(section.title).c_str());
    sync_ = AddJobRow("同步並備份", "把學到的詞寫入使用者詞庫，再備份一份", "同步", nullptr);
    redeploy_ =
        AddJobRow("重新部署", "刪除使用者詞庫後重新載入方案；學到的詞會消失", "重新部署…", nullptr);
    status_ = StateRow("", "", "emblem-synchronizing-symbolic");
    progress_ = gtk_progress_bar_new();
    gtk_widget_set_valign(progress_, GTK_ALIGN_CENTER);
    gtk_widget_set_size_request(progress_, 120, -1);
    adw_action_row_add_suffix(ADW_ACTION_ROW(status_), progress_);
    gtk_widget_set_visible(status_, false);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), status_);
    ConnectSignal(sync_, "clicked", [this] { Start(RequestKind::SyncAndRedeploy, "同步並備份"); });
    ConnectSignal(redeploy_, "clicked", [this] { ConfirmRedeploy(); });
  }

  GtkWidget* Widget() override { return group_; }

 private:
  // A row with one button; returns the button.
  GtkWidget* AddJobRow(const char* title, const char* subtitle, const char* label,
                       const char* style) {
    GtkWidget* row = StateRow(title, subtitle, "emblem-system-symbolic");
    GtkWidget* button = RowButton(label, style);
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), button);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), row);
    return button;
  }

  void ConfirmRedeploy() {
    GtkWidget* dialog = adw_message_dialog_new(
        ctx_.window, "重新部署並刪除學到的詞？",
        "使用者詞庫會被刪除，輸入法從方案的詞庫重新開始。若想保留學到的詞，請先同步並備份。");
    adw_message_dialog_add_responses(ADW_MESSAGE_DIALOG(dialog), "cancel", "取消", "redeploy",
                                     "重新部署", nullptr);
    adw_message_dialog_set_response_appearance(ADW_MESSAGE_DIALOG(dialog), "redeploy",
                                               ADW_RESPONSE_DESTRUCTIVE);
    adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(dialog), "cancel");
    adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(dialog), "cancel");
    g_signal_connect(dialog, "response::redeploy",
                     G_CALLBACK(+[](AdwMessageDialog*, const char*, gpointer self) {
                       static_cast<MaintenanceSection*>(self)->Start(RequestKind::Redeploy,
                                                                     "重新部署");
                     }),
                     this);
    gtk_window_present(GTK_WINDOW(dialog));
  }

  void Start(RequestKind kind, std::string title) {
    gtk_widget_set_sensitive(sync_, false);
    gtk_widget_set_sensitive(redeploy_, false);
    gtk_widget_set_visible(status_, true);
    gtk_widget_set_visible(progress_, true);
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(status_), title.c_str());
    watch_.Start(JobFamily::kMaintenance, kind, {}, [this](const JobProgress& progress) {
      SetSubtitle(status_, JobProgressText(progress));
      gtk_progress_bar_pulse(GTK_PROGRESS_BAR(progress_));
      if (!progress.finished()) return;
      gtk_widget_set_visible(progress_, false);
      gtk_widget_set_sensitive(sync_, true);
      gtk_widget_set_sensitive(redeploy_, true);
      ctx_.refresh_page();
    });
  }

  SectionContext& ctx_;
  JobWatch watch_;
  GtkWidget* group_;
  GtkWidget* sync_;
  GtkWidget* redeploy_;
  GtkWidget* status_;
  GtkWidget* progress_;
};

class BackupsSection final : public SectionView {
 public:
  BackupsSection(const PageSection& section, SectionContext& ctx)
      : ctx_(ctx), folder_(BackupsFolder(ctx.config_directory)) {
    group_ = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group_),
                                    std::string(section.title).c_str());
    adw_preferences_group_set_description(ADW_PREFERENCES_GROUP(group_),
                                          std::string(section.description).c_str());
    open_ = gtk_button_new_from_icon_name("folder-open-symbolic");
    gtk_widget_add_css_class(open_, "flat");
    gtk_widget_set_tooltip_text(open_, "開啟備份資料夾");
    adw_preferences_group_set_header_suffix(ADW_PREFERENCES_GROUP(group_), open_);
    ConnectSignal(open_, "clicked", [this] { OpenFolder(ctx_.window, folder_); });
  }

  GtkWidget* Widget() override { return group_; }

  void PageShown() override {
    for (GtkWidget* row : rows_) adw_preferences_group_remove(ADW_PREFERENCES_GROUP(group_), row);
    rows_.clear();
    std::error_code error;
    gtk_widget_set_sensitive(open_, std::filesystem::is_directory(folder_, error));
    const std::vector<DictionaryBackup> backups = ListBackups(folder_);
    if (backups.empty()) rows_.push_back(StateRow("還沒有備份", folder_.string()));
    for (size_t i = 0; i < backups.size() && i < kBackupsShown; ++i) {
      const DictionaryBackup& backup = backups[i];
      rows_.push_back(StateRow(
          backup.when, std::to_string(backup.dictionaries) + " 個詞庫，" + SizeText(backup.bytes),
          "document-open-recent-symbolic"));
    }
    if (backups.size() > kBackupsShown) {
      rows_.push_back(
          StateRow("還有 " + std::to_string(backups.size() - kBackupsShown) + " 份較早的備份",
                   folder_.string()));
    }
    for (GtkWidget* row : rows_) adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), row);
  }

 private:
  SectionContext& ctx_;
  const std::filesystem::path folder_;
  GtkWidget* group_;
  GtkWidget* open_;
  std::vector<GtkWidget*> rows_;
};

}  // namespace

std::unique_ptr<SectionView> MakeMaintenanceSection(const PageSection& section,
                                                    SectionContext& ctx) {
  return std::make_unique<MaintenanceSection>(section, ctx);
}

std::unique_ptr<SectionView> MakeBackupsSection(const PageSection& section, SectionContext& ctx) {
  return std::make_unique<BackupsSection>(section, ctx);
}

}  // namespace kavi::win
