// SPDX-License-Identifier: Apache-2.0
// The about page: the program and the running server, the update the update checker left for
// the user to install (with pkexec), and the licences.
#include "platform/file_read.h"
#include "platform/folders.h"
#include "tools/settings/server_requests.h"
#include "tools/settings/user_data_files.h"
#include "tools/settings/window/section_view.h"

namespace kavi::win {

namespace {

constexpr char kProductName[] = "霜楓輸入法";
// The program's icon, which the package installs into the desktop's icon theme.
constexpr char kIconName[] = "kavi";
// The notice of the licences, where the package installs it beside the data.
constexpr char kNoticePath[] = "../doc/kavi/NOTICE";
constexpr uintmax_t kMaxNoticeBytes = 1 << 20;

GtkWidget* TitledGroup(const PageSection& section) {
  GtkWidget* group = adw_preferences_group_new();
  if (!section.title.empty())
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group),
                                    std::string(section.title).c_str());
  return group;
}

class VersionSection final : public SectionView {
 public:
  VersionSection(const PageSection& section, SectionContext&) {
    group_ = TitledGroup(section);
    GtkWidget* header = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    GtkIconTheme* theme = gtk_icon_theme_get_for_display(gdk_display_get_default());
    const bool installed = gtk_icon_theme_has_icon(theme, kIconName);
    GtkWidget* icon =
        gtk_image_new_from_icon_name(installed ? kIconName : "input-keyboard-symbolic");
    gtk_image_set_pixel_size(GTK_IMAGE(icon), 96);
    gtk_widget_set_margin_bottom(icon, 6);
    if (!installed) gtk_widget_add_css_class(icon, "dim-label");
    GtkWidget* name = gtk_label_new(kProductName);
    gtk_widget_add_css_class(name, "title-1");
    GtkWidget* version = gtk_label_new((std::string("版本 ") + KAVI_VERSION).c_str());
    gtk_widget_add_css_class(version, "dim-label");
    gtk_box_append(GTK_BOX(header), icon);
    gtk_box_append(GTK_BOX(header), name);
    gtk_box_append(GTK_BOX(header), version);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), header);
  }

  GtkWidget* Widget() override { return group_; }

 private:
  GtkWidget* group_;
};

class ProgramStateSection final : public SectionView {
 public:
  ProgramStateSection(const PageSection& section, SectionContext& ctx) : ctx_(ctx) {
    group_ = TitledGroup(section);
    server_ = StateRow("輸入服務", "", "system-run-symbolic");
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), server_);
    GtkWidget* folder = StateRow("設定資料夾", ctx.config_directory.string(), "folder-symbolic");
    GtkWidget* open = RowButton("開啟");
    adw_action_row_add_suffix(ADW_ACTION_ROW(folder), open);
    ConnectSignal(open, "clicked", [this] {
      GFile* file = g_file_new_for_path(ctx_.config_directory.c_str());
      char* uri = g_file_get_uri(file);
      gtk_show_uri(ctx_.window, uri, GDK_CURRENT_TIME);
      g_free(uri);
      g_object_unref(file);
    });
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), folder);
  }

  GtkWidget* Widget() override { return group_; }

  void PageShown() override {
    ctx_.link->Send(RequestKind::QueryServerPid, {}, 0, [this](const ServerAnswer& answer) {
      SetSubtitle(server_, answer.Is(ReplyKind::Ok)
                               ? "執行中（程序 " + std::to_string(answer.reply.value) + "）"
                               : ServiceStateText(ServiceState::kServerNotRunning));
    });
  }

 private:
  SectionContext& ctx_;
  GtkWidget* group_;
  GtkWidget* server_;
};

class PendingUpdateSection final : public SectionView {
 public:
  PendingUpdateSection(const PageSection& section, SectionContext& ctx) : ctx_(ctx) {
    group_ = TitledGroup(section);
    update_ = StateRow("", "", "software-update-available-symbolic");
    install_ = RowButton("安裝", "suggested-action");
    adw_action_row_add_suffix(ADW_ACTION_ROW(update_), install_);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), update_);
    for (const SettingRow& row : section.rows)
      adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), BuildSettingRow(row, ctx));
    ConnectSignal(install_, "clicked", [this] { Install(); });
  }

  GtkWidget* Widget() override { return group_; }

  void PageShown() override {
    std::string problem;
    pending_ = ReadPendingUpdate(UpdatesFolder(), &problem);
    gtk_widget_set_visible(install_, pending_.has_value());
    if (!pending_) {
      adw_preferences_row_set_title(ADW_PREFERENCES_ROW(update_), "沒有待安裝的更新");
      SetSubtitle(update_, problem.empty() ? "更新下載並驗證後，會在這裡等你安裝" : problem);
      return;
    }
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(update_),
                                  ("新版 " + pending_->version + " 已下載並驗證").c_str());
    SetSubtitle(update_,
                IsNewerVersion(pending_->version, KAVI_VERSION)
                    ? "比目前執行的 " + std::string(KAVI_VERSION) + " 新；安裝時需要管理員密碼"
                    : "不比目前執行的 " + std::string(KAVI_VERSION) + " 新");
  }

 private:
  // The package manager installs it as the administrator, after polkit asks for the password.
  void Install() {
    if (!pending_) return;
    std::vector<std::string> command = InstallUpdateCommand(*pending_);
    std::vector<const char*> argv;
    for (const std::string& arg : command) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    GSubprocess* process =
        g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_STDOUT_SILENCE, &error);
    if (process == nullptr) {
      ctx_.toast(std::string("無法開始安裝：") + error->message);
      g_error_free(error);
      return;
    }
    gtk_widget_set_sensitive(install_, false);
    SetSubtitle(update_, "安裝中…");
    g_subprocess_wait_check_async(
        process, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer self) {
          GError* failure = nullptr;
          const bool ok = g_subprocess_wait_check_finish(G_SUBPROCESS(source), result, &failure);
          auto* section = static_cast<PendingUpdateSection*>(self);
          section->ctx_.toast(ok ? "更新已安裝；重新登入後即使用新版"
                                 : std::string("安裝沒有完成：") + failure->message);
          if (failure) g_error_free(failure);
          gtk_widget_set_sensitive(section->install_, true);
          section->PageShown();
          g_object_unref(source);
        },
        this);
  }

  SectionContext& ctx_;
  GtkWidget* group_;
  GtkWidget* update_;
  GtkWidget* install_;
  std::optional<PendingUpdate> pending_;
};

class LicencesSection final : public SectionView {
 public:
  LicencesSection(const PageSection& section, SectionContext& ctx) : ctx_(ctx) {
    group_ = TitledGroup(section);
    struct Line {
      const char* title;
      const char* licence;
    };
    const Line lines[] = {
        {kProductName, "Apache License 2.0"},
        {"符號、表情與讀音資料", "Unicode 資料檔授權（Unicode-DFS-2016）"},
        {"部件資料", "CJK Decomposition Data，Apache License 2.0"},
        {"執行時使用的程式庫",
         "libime、OpenCC、GTK、libadwaita、libqrencode 等，各依其授權（LGPL-2.1 以上、Apache-2.0 "
         "等）"},
    };
    for (const Line& line : lines) {
      GtkWidget* row = StateRow(line.title, line.licence, "emblem-documents-symbolic");
      adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), row);
    }
    GtkWidget* more = gtk_button_new_with_label("完整說明");
    gtk_widget_add_css_class(more, "flat");
    adw_preferences_group_set_header_suffix(ADW_PREFERENCES_GROUP(group_), more);
    ConnectSignal(more, "clicked", [this] { ShowAbout(); });
  }

  GtkWidget* Widget() override { return group_; }

 private:
  void ShowAbout() {
    GtkWidget* about = adw_about_window_new();
    gtk_window_set_transient_for(GTK_WINDOW(about), ctx_.window);
    adw_about_window_set_application_name(ADW_ABOUT_WINDOW(about), kProductName);
    adw_about_window_set_application_icon(ADW_ABOUT_WINDOW(about), kIconName);
    adw_about_window_set_version(ADW_ABOUT_WINDOW(about), KAVI_VERSION);
    adw_about_window_set_developer_name(ADW_ABOUT_WINDOW(about), "Kavi developers");
    adw_about_window_set_license_type(ADW_ABOUT_WINDOW(about), GTK_LICENSE_APACHE_2_0);
    std::string notice;
    if (ReadRegularFile(ShippedFilesFolder() / kNoticePath, kMaxNoticeBytes, &notice) ==
        ReadFileResult::kRead) {
      char* text = g_markup_escape_text(notice.c_str(), static_cast<gssize>(notice.size()));
      adw_about_window_add_legal_section(ADW_ABOUT_WINDOW(about), "資料與程式庫", nullptr,
                                         GTK_LICENSE_CUSTOM, text);
      g_free(text);
    }
    gtk_window_present(GTK_WINDOW(about));
  }

  SectionContext& ctx_;
  GtkWidget* group_;
};

}  // namespace

std::unique_ptr<SectionView> MakeVersionSection(const PageSection& section, SectionContext& ctx) {
  return std::make_unique<VersionSection>(section, ctx);
}

std::unique_ptr<SectionView> MakeProgramStateSection(const PageSection& section,
                                                     SectionContext& ctx) {
  return std::make_unique<ProgramStateSection>(section, ctx);
}

std::unique_ptr<SectionView> MakePendingUpdateSection(const PageSection& section,
                                                      SectionContext& ctx) {
  return std::make_unique<PendingUpdateSection>(section, ctx);
}

std::unique_ptr<SectionView> MakeLicencesSection(const PageSection& section, SectionContext& ctx) {
  return std::make_unique<LicencesSection>(section, ctx);
}

}  // namespace kavi::win
