// SPDX-License-Identifier: Apache-2.0
// The sections of the services that run in the server: the voice models (kinds 26 to 28, 31),
// the companion account (33 to 37) and the scheme packs (16 to 18, 44). Each first asks the
// server whether it has the service at all, and says so plainly when it has not.
#include <vector>

#include "config/config_record.h"
#include "tools/settings/companion_account.h"
#include "tools/settings/job_watch.h"
#include "tools/settings/qr_code.h"
#include "tools/settings/scheme_packs.h"
#include "tools/settings/server_requests.h"
#include "tools/settings/window/section_view.h"

namespace kavi::win {

namespace {

constexpr int kQrModulePixels = 5;
constexpr int kQrQuietModules = 4;

GtkWidget* Group(const PageSection& section) {
  GtkWidget* group = adw_preferences_group_new();
  if (!section.title.empty())
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group),
                                    std::string(section.title).c_str());
  if (!section.description.empty())
    adw_preferences_group_set_description(ADW_PREFERENCES_GROUP(group),
                                          std::string(section.description).c_str());
  return group;
}

// The rows a section shows at the moment, replaced as a whole when its state changes.
class RowList {
 public:
  explicit RowList(GtkWidget* group) : group_(group) {}
  void Clear() {
    for (GtkWidget* row : rows_) adw_preferences_group_remove(ADW_PREFERENCES_GROUP(group_), row);
    rows_.clear();
  }
  GtkWidget* Add(GtkWidget* row) {
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), row);
    rows_.push_back(row);
    return row;
  }

 private:
  GtkWidget* group_;
  std::vector<GtkWidget*> rows_;
};

// ---- Voice models.

std::string EngineTitle(std::string_view engine) {
  return engine == "qwen3" ? "Qwen3 模型" : "SenseVoice 模型";
}

class VoiceModelsSection final : public SectionView {
 public:
  VoiceModelsSection(const PageSection& section, SectionContext& ctx)
      : ctx_(ctx), group_(Group(section)), rows_(group_), watch_(*ctx.link, ctx.schedule) {}

  GtkWidget* Widget() override { return group_; }

  void PageShown() override {
    if (watch_.running()) return;
    ctx_.link->Send(RequestKind::VoiceStatus, {}, 0,
                    [this](const ServerAnswer& answer) { Show(ServiceStateOf(answer)); });
  }

 private:
  struct EngineRow {
    std::string engine;
    GtkWidget* row = nullptr;
    GtkWidget* progress = nullptr;
    GtkWidget* download = nullptr;
    GtkWidget* remove = nullptr;
    GtkWidget* cancel = nullptr;
  };

  void Show(ServiceState state) {
    rows_.Clear();
    engines_.clear();
    if (state != ServiceState::kAvailable) {
      rows_.Add(
          StateRow(ServiceStateText(state), state == ServiceState::kNotInBuild
                                                ? "這個輸入服務沒有語音輸入，因此沒有模型可以下載"
                                                : "啟動輸入服務後即可管理語音模型"));
      return;
    }
    for (std::string_view engine : AppOptions::kVoiceEngines) {
      EngineRow row{std::string(engine),
                    StateRow(EngineTitle(engine), "", "folder-download-symbolic")};
      row.progress = gtk_progress_bar_new();
      gtk_widget_set_valign(row.progress, GTK_ALIGN_CENTER);
      gtk_widget_set_size_request(row.progress, 120, -1);
      gtk_widget_set_visible(row.progress, false);
      row.download = RowButton("下載");
      row.remove = RowButton("移除");
      row.cancel = RowButton("取消");
      gtk_widget_set_visible(row.cancel, false);
      for (GtkWidget* suffix : {row.progress, row.cancel, row.remove, row.download})
        adw_action_row_add_suffix(ADW_ACTION_ROW(row.row), suffix);
      const std::string name = row.engine;
      ConnectSignal(row.download, "clicked",
                    [this, name] { StartJob(name, RequestKind::DownloadVoiceModel); });
      ConnectSignal(row.remove, "clicked",
                    [this, name] { StartJob(name, RequestKind::RemoveVoiceModel); });
      ConnectSignal(row.cancel, "clicked",
                    [this] { watch_.Cancel(RequestKind::CancelVoiceModelJob); });
      rows_.Add(row.row);
      engines_.push_back(row);
    }
  }

  void StartJob(const std::string& engine, RequestKind kind) {
    for (EngineRow& row : engines_) {
      const bool mine = row.engine == engine;
      gtk_widget_set_sensitive(row.download, false);
      gtk_widget_set_sensitive(row.remove, false);
      if (!mine) continue;
      gtk_widget_set_visible(row.cancel, kind == RequestKind::DownloadVoiceModel);
      gtk_widget_set_visible(row.progress, true);
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(row.progress), 0);
      EngineRow* shown = &row;
      watch_.Start(JobFamily::kVoiceModel, kind, engine,
                   [this, shown](const JobProgress& progress) { Update(*shown, progress); });
    }
  }

  void Update(EngineRow& row, const JobProgress& progress) {
    SetSubtitle(row.row, JobProgressText(progress));
    if (progress.percent >= 0)
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(row.progress), progress.percent / 100.0);
    if (!progress.finished()) return;
    gtk_widget_set_visible(row.progress, false);
    gtk_widget_set_visible(row.cancel, false);
    for (EngineRow& other : engines_) {
      gtk_widget_set_sensitive(other.download, true);
      gtk_widget_set_sensitive(other.remove, true);
    }
  }

  SectionContext& ctx_;
  GtkWidget* group_;
  RowList rows_;
  JobWatch watch_;
  std::vector<EngineRow> engines_;
};

// ---- Companion account.

void DrawQrCode(GtkDrawingArea*, cairo_t* cr, int width, int height, gpointer data) {
  const QrCode& code = *static_cast<const QrCode*>(data);
  const int modules = code.size + 2 * kQrQuietModules;
  const double unit = std::min(width, height) / static_cast<double>(modules);
  // Dark on white whatever the window's colours: that is what phone cameras read.
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, 0, 0, unit * modules, unit * modules);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (int y = 0; y < code.size; ++y) {
    for (int x = 0; x < code.size; ++x) {
      if (code.Dark(x, y))
        cairo_rectangle(cr, (x + kQrQuietModules) * unit, (y + kQrQuietModules) * unit, unit, unit);
    }
  }
  cairo_fill(cr);
}

class CompanionSection final : public SectionView {
 public:
  // A connection of its own: the wait for the app's approval holds it for up to 45 seconds.
  CompanionSection(const PageSection& section, SectionContext& ctx)
      : ctx_(ctx),
        group_(Group(section)),
        rows_(group_),
        link_(SettingsClientOptions(), MainLoopPost(ctx.alive)) {}

  GtkWidget* Widget() override { return group_; }

  void PageShown() override {
    if (waiting_) return;
    link_.Send(kCompanionStatusKind, {}, 0,
               [this](const ServerAnswer& answer) { Show(ReadCompanionStatus(answer)); });
  }

 private:
  void Show(const CompanionStatus& status) {
    rows_.Clear();
    if (status.service != ServiceState::kAvailable) {
      rows_.Add(
          StateRow(ServiceStateText(status.service), status.service == ServiceState::kNotInBuild
                                                         ? "這個輸入服務沒有 GateKite 配對功能"
                                                         : "啟動輸入服務後即可配對"));
      return;
    }
    if (!status.message.empty()) {
      rows_.Add(StateRow("無法讀取配對狀態", status.message, "dialog-warning-symbolic"));
      return;
    }
    if (status.paired) {
      GtkWidget* row = rows_.Add(StateRow("已配對", status.account, "emblem-ok-symbolic"));
      GtkWidget* unpair = RowButton("解除配對", "destructive-action");
      adw_action_row_add_suffix(ADW_ACTION_ROW(row), unpair);
      ConnectSignal(unpair, "clicked", [this] { ConfirmUnpair(); });
      return;
    }
    GtkWidget* row =
        rows_.Add(StateRow("尚未配對", "在手機的 GateKite 中打開配對連結，或掃描這裡的 QR 碼",
                           "avatar-default-symbolic"));
    GtkWidget* start = RowButton("開始配對", "suggested-action");
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), start);
    ConnectSignal(start, "clicked", [this, start] {
      gtk_widget_set_sensitive(start, false);
      link_.Send(kStartPairingKind, std::string(kCompanionAppName), 0,
                 [this](const ServerAnswer& answer) { ShowLink(answer); });
    });
  }

  // The link as text and as a QR code, then the wait for the app's approval.
  void ShowLink(const ServerAnswer& answer) {
    std::string error;
    const std::string link = ReadPairingLink(answer, &error);
    if (link.empty()) {
      ctx_.toast("無法開始配對：" + error);
      PageShown();
      return;
    }
    rows_.Clear();
    GtkWidget* row = rows_.Add(StateRow("配對連結", link, "emblem-shared-symbolic"));
    GtkWidget* copy = RowButton("複製");
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), copy);
    ConnectSignal(copy, "clicked", [this, link] {
      gdk_clipboard_set_text(gtk_widget_get_clipboard(GTK_WIDGET(ctx_.window)), link.c_str());
      ctx_.toast("已複製配對連結");
    });
    if (std::optional<QrCode> code = EncodeQrCode(link)) {
      qr_ = std::move(*code);
      const int side = (qr_.size + 2 * kQrQuietModules) * kQrModulePixels;
      GtkWidget* area = gtk_drawing_area_new();
      gtk_drawing_area_set_content_width(GTK_DRAWING_AREA(area), side);
      gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(area), side);
      gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(area), DrawQrCode, &qr_, nullptr);
      gtk_widget_set_halign(area, GTK_ALIGN_CENTER);
      gtk_widget_set_margin_top(area, 12);
      gtk_widget_set_margin_bottom(area, 12);
      rows_.Add(area);
    }
    rows_.Add(
        StateRow("等待 GateKite 確認…", "在 GateKite 中核准這台電腦", "content-loading-symbolic"));
    waiting_ = true;
    link_.Send(kWaitPairingKind, {}, 0, [this](const ServerAnswer& done) {
      waiting_ = false;
      if (!done.Is(ReplyKind::Ok)) ctx_.toast("配對沒有完成：" + done.Message());
      PageShown();
    });
  }

  void ConfirmUnpair() {
    GtkWidget* dialog = adw_message_dialog_new(ctx_.window, "解除與 GateKite 的配對？",
                                               "之後輸入時無法再取得二步驗證碼，除非重新配對。");
    adw_message_dialog_add_responses(ADW_MESSAGE_DIALOG(dialog), "cancel", "取消", "unpair",
                                     "解除配對", nullptr);
    adw_message_dialog_set_response_appearance(ADW_MESSAGE_DIALOG(dialog), "unpair",
                                               ADW_RESPONSE_DESTRUCTIVE);
    adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(dialog), "cancel");
    g_signal_connect(
        dialog, "response::unpair", G_CALLBACK(+[](AdwMessageDialog*, const char*, gpointer self) {
          auto* section = static_cast<CompanionSection*>(self);
          section->link_.Send(kUnpairKind, {}, 0,
                              [section](const ServerAnswer&) { section->PageShown(); });
        }),
        this);
    gtk_window_present(GTK_WINDOW(dialog));
  }

  SectionContext& ctx_;
  GtkWidget* group_;
  RowList rows_;
  ServerLink link_;
  QrCode qr_;
  bool waiting_ = false;
};

// ---- Scheme packs.

class SchemePacksSection final : public SectionView {
 public:
  SchemePacksSection(const PageSection& section, SectionContext& ctx)
      : ctx_(ctx), group_(Group(section)), rows_(group_), watch_(*ctx.link, ctx.schedule) {}

  GtkWidget* Widget() override { return group_; }

  void PageShown() override {
    if (watch_.running()) return;
    const std::filesystem::path directory = ctx_.config_directory;
    ctx_.link->Run([this, directory](KaviClient&) -> std::function<void()> {
      PackListing listing = ListSchemePacks(directory);
      return [this, listing = std::move(listing)] { Show(listing); };
    });
  }

 private:
  void Show(const PackListing& listing) {
    rows_.Clear();
    if (!listing.available || listing.packs.empty()) {
      rows_.Add(StateRow(listing.message.empty() ? "沒有可下載的方案包" : listing.message,
                         "可下載的方案包安裝後，會出現在上面的方案清單中"));
      return;
    }
    for (const SchemePack& pack : listing.packs) {
      GtkWidget* row =
          rows_.Add(StateRow(pack.display_name.empty() ? pack.id : pack.display_name,
                             pack.installed ? "已安裝" : "", "package-x-generic-symbolic"));
      GtkWidget* button = RowButton(pack.installed ? "移除" : "安裝",
                                    pack.installed ? nullptr : "suggested-action");
      adw_action_row_add_suffix(ADW_ACTION_ROW(row), button);
      const RequestKind kind = pack.installed ? RequestKind::RemovePack : RequestKind::InstallPack;
      const std::string id = pack.id;
      ConnectSignal(button, "clicked", [this, row, kind, id] {
        GtkWidget* cancel = RowButton("取消");
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), cancel);
        ConnectSignal(cancel, "clicked", [this] { watch_.Cancel(RequestKind::CancelPackJob); });
        watch_.Start(JobFamily::kSchemePack, kind, id, [this, row](const JobProgress& progress) {
          SetSubtitle(row, JobProgressText(progress));
          if (progress.finished()) PageShown();
        });
      });
    }
  }

  SectionContext& ctx_;
  GtkWidget* group_;
  RowList rows_;
  JobWatch watch_;
};

}  // namespace

std::unique_ptr<SectionView> MakeVoiceModelsSection(const PageSection& section,
                                                    SectionContext& ctx) {
  return std::make_unique<VoiceModelsSection>(section, ctx);
}

std::unique_ptr<SectionView> MakeCompanionSection(const PageSection& section, SectionContext& ctx) {
  return std::make_unique<CompanionSection>(section, ctx);
}

std::unique_ptr<SectionView> MakeSchemePacksSection(const PageSection& section,
                                                    SectionContext& ctx) {
  return std::make_unique<SchemePacksSection>(section, ctx);
}

}  // namespace kavi::win
