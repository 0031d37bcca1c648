// SPDX-License-Identifier: Apache-2.0
// The network page's cloud words: the switch, and what switching it on sends where, in plain
// words, next to it.
#include "net/service_endpoints.h"
#include "tools/settings/window/section_view.h"

namespace kavi::win {

namespace {

class CloudWordsSection final : public SectionView {
 public:
  CloudWordsSection(const PageSection& section, SectionContext& ctx) : ctx_(ctx) {
    group_ = SettingsGroup(section, ctx);
    statement_ = gtk_label_new(nullptr);
    gtk_label_set_wrap(GTK_LABEL(statement_), true);
    gtk_label_set_xalign(GTK_LABEL(statement_), 0);
    gtk_widget_add_css_class(statement_, "dim-label");
    gtk_widget_set_margin_top(statement_, 12);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), statement_);
    PageShown();
  }

  GtkWidget* Widget() override { return group_; }

  void PageShown() override {
    std::string service;
    for (const auto& [key, value] : ctx_.store->Endpoints()) {
      if (key == kServiceBaseUrlKey) service = value;
    }
    const std::string where = service.empty() ? "Kavi 服務（目前沒有設定地址，因此不會傳送）"
                                              : "上面的 Kavi 服務（" + service + "）";
    gtk_label_set_text(
        GTK_LABEL(statement_),
        ("開啟時，輸入法會記下你送出的中文詞（1 到 8 個字，連同輸入的拼音）和前後相連的兩個詞，"
         "只記次數；用過至少 3 次的詞會分批傳給" +
         where +
         "。不含中文的文字不會記下。服務回傳的熱門詞會出現在候選中，標有 ☁。"
         "關閉後不再記錄也不再傳送。")
            .c_str());
  }

 private:
  SectionContext& ctx_;
  GtkWidget* group_;
  GtkWidget* statement_;
};

}  // namespace

std::unique_ptr<SectionView> MakeCloudWordsSection(const PageSection& section,
                                                   SectionContext& ctx) {
  return std::make_unique<CloudWordsSection>(section, ctx);
}

}  // namespace kavi::win
