// SPDX-License-Identifier: Apache-2.0
#include "frontend/ibus/ibus_engine_kavi.h"

#include <memory>
#include <string>

#include "platform/folders.h"
#include "platform/process.h"

namespace kavi::win {
namespace {

// Poll intervals: while a composition is open the candidate window may be clicked at any
// moment; otherwise only the toolbar's mode toggle can arrive.
constexpr guint kComposingPollMs = 40;
constexpr guint kIdlePollMs = 500;

constexpr char kPropInputMode[] = "InputMode";
constexpr char kPropTraditional[] = "Traditional";
constexpr char kPropIbusPanel[] = "IbusPanel";
constexpr char kSettingsProgram[] = "KaviSettings";
constexpr char kToggleTraditional[] = "--toggle-traditional";

FrontendConnection* g_connection = nullptr;
IbusEngineOptions g_options;

class EngineBridge;

}  // namespace
}  // namespace kavi::win

struct KaviEngine {
  IBusEngine parent;
  kavi::win::EngineBridge* bridge;
};
struct KaviEngineClass {
  IBusEngineClass parent;
};

G_DEFINE_TYPE(KaviEngine, kavi_engine, IBUS_TYPE_ENGINE)

namespace kavi::win {
namespace {

IBusText* Text(const std::string& text) {
  return ibus_text_new_from_string(text.c_str());
}

// One IBus input context: the framework's events in, the server's answers out.
class EngineBridge : public FrontendSink {
 public:
  explicit EngineBridge(IBusEngine* engine) : engine_(engine), context_(*g_connection, *this) {
    properties_ = ibus_prop_list_new();
    g_object_ref_sink(properties_);
    mode_ =
        ibus_property_new(kPropInputMode, PROP_TYPE_NORMAL, Text("中"), nullptr,
                          Text("中文 / 英文 (Shift)"), TRUE, TRUE, PROP_STATE_UNCHECKED, nullptr);
    ibus_prop_list_append(properties_, mode_);
    ibus_prop_list_append(
        properties_,
        ibus_property_new(kPropTraditional, PROP_TYPE_NORMAL, Text("繁／简"), nullptr,
                          Text("繁體 / 简体输出"), TRUE, TRUE, PROP_STATE_UNCHECKED, nullptr));
    panel_ = ibus_property_new(kPropIbusPanel, PROP_TYPE_TOGGLE, Text("候选在 IBus 面板"), nullptr,
                               Text("在 IBus 面板中也显示候选"), TRUE, TRUE,
                               g_options.ibus_panel ? PROP_STATE_CHECKED : PROP_STATE_UNCHECKED,
                               nullptr);
    ibus_prop_list_append(properties_, panel_);
    ibus_panel_ = g_options.ibus_panel;
  }

  ~EngineBridge() override {
    StopPolling();
    g_object_unref(properties_);
  }

  void FocusIn() {
    ibus_engine_register_properties(engine_, properties_);
    context_.FocusIn();
    SchedulePoll();
  }
  void FocusOut() {
    context_.FocusOut();
    StopPolling();
  }
  gboolean ProcessKey(guint keyval, guint state) {
    const bool consumed = context_.ProcessKey(keyval, state);
    SchedulePoll();
    return consumed ? TRUE : FALSE;
  }
  void Reset() { context_.Reset(); }
  void SetCursorLocation(gint x, gint y, gint w, gint h) {
    // IBus reports (0, 0, 0, 0) when the application did not say where its caret is.
    const bool known = x != 0 || y != 0 || w != 0 || h != 0;
    context_.SetCaret({x, y, x + w, y + h}, known);
  }
  void PropertyActivate(const gchar* name, guint state) {
    const std::string property = name;
    if (property == kPropInputMode) {
      context_.ToggleAsciiMode();
    } else if (property == kPropTraditional) {
      std::string message;
      SpawnDetached(ProgramFolder() / kSettingsProgram, {kToggleTraditional}, {}, &message);
    } else if (property == kPropIbusPanel) {
      ibus_panel_ = state == PROP_STATE_CHECKED;
      ibus_property_set_state(panel_, static_cast<IBusPropState>(state));
      ibus_engine_update_property(engine_, panel_);
      Show(context_.view());
    }
  }
  void CandidateClicked(guint index) { context_.SelectCandidate(index); }
  void PageUp() { context_.ChangePage(false); }
  void PageDown() { context_.ChangePage(true); }
  void CursorUp() {
    const ContextView& v = context_.view();
    if (v.highlighted > 0) context_.HighlightCandidate(v.highlighted - 1);
  }
  void CursorDown() {
    const ContextView& v = context_.view();
    if (v.highlighted + 1 < v.candidates.size()) context_.HighlightCandidate(v.highlighted + 1);
  }

  // FrontendSink.
  void Commit(const std::string& text) override { ibus_engine_commit_text(engine_, Text(text)); }

  void Show(const ContextView& view) override {
    ShowPreedit(view);
    ShowLookupTable(view);
    if (view.ascii_mode != ascii_shown_) {
      ascii_shown_ = view.ascii_mode;
      ibus_property_set_label(mode_, Text(view.ascii_mode ? "英" : "中"));
      ibus_engine_update_property(engine_, mode_);
    }
    SchedulePoll();
  }

 private:
  bool ClientShowsPreedit() const {
    return (engine_->client_capabilities & IBUS_CAP_PREEDIT_TEXT) != 0;
  }

  void ShowPreedit(const ContextView& view) {
    if (view.preedit.empty() || !view.inline_preedit || !ClientShowsPreedit()) {
      // Each IBus call is a message through the daemon: send only what changes.
      if (preedit_shown_) ibus_engine_hide_preedit_text(engine_);
      preedit_shown_ = false;
      return;
    }
    preedit_shown_ = true;
    IBusText* text = Text(view.preedit);
    const glong length = g_utf8_strlen(view.preedit.c_str(), -1);
    ibus_text_append_attribute(text, IBUS_ATTR_TYPE_UNDERLINE, IBUS_ATTR_UNDERLINE_SINGLE, 0,
                               length);
    const size_t cursor_bytes = std::min<size_t>(view.cursor, view.preedit.size());
    const glong cursor =
        g_utf8_pointer_to_offset(view.preedit.c_str(), view.preedit.c_str() + cursor_bytes);
    // A field that loses the focus drops the composition, as the server does.
    ibus_engine_update_preedit_text_with_mode(engine_, text, static_cast<guint>(cursor), TRUE,
                                              IBUS_ENGINE_PREEDIT_CLEAR);
  }

  void ShowLookupTable(const ContextView& view) {
    if (!ibus_panel_ || view.candidates.empty()) {
      if (lookup_shown_) ibus_engine_hide_lookup_table(engine_);
      lookup_shown_ = false;
      return;
    }
    lookup_shown_ = true;
    IBusLookupTable* table =
        ibus_lookup_table_new(static_cast<guint>(view.candidates.size()), 0, TRUE, FALSE);
    for (const ViewCandidate& candidate : view.candidates) {
      ibus_lookup_table_append_candidate(table, Text(candidate.text));
    }
    ibus_lookup_table_set_cursor_pos(table, view.highlighted);
    ibus_engine_update_lookup_table(engine_, table, TRUE);
  }

  void SchedulePoll() {
    if (!context_.focused()) {
      StopPolling();
      return;
    }
    const guint interval = context_.Composing() ? kComposingPollMs : kIdlePollMs;
    if (poll_source_ != 0 && interval == poll_interval_) return;
    StopPolling();
    poll_interval_ = interval;
    poll_source_ = g_timeout_add(interval, &EngineBridge::OnPollTimer, this);
  }
  void StopPolling() {
    if (poll_source_ != 0) g_source_remove(poll_source_);
    poll_source_ = 0;
  }
  static gboolean OnPollTimer(gpointer data) {
    auto* self = static_cast<EngineBridge*>(data);
    self->poll_source_ = 0;
    self->context_.Poll();
    self->SchedulePoll();
    return G_SOURCE_REMOVE;
  }

  IBusEngine* engine_;
  InputContext context_;
  IBusPropList* properties_ = nullptr;
  IBusProperty* mode_ = nullptr;   // owned by properties_
  IBusProperty* panel_ = nullptr;  // owned by properties_
  bool ibus_panel_ = false;
  bool ascii_shown_ = false;
  bool preedit_shown_ = false;
  bool lookup_shown_ = false;
  guint poll_source_ = 0;
  guint poll_interval_ = 0;
};

EngineBridge* Bridge(IBusEngine* engine) {
  return reinterpret_cast<KaviEngine*>(engine)->bridge;
}

}  // namespace

void SetIbusEngineConnection(FrontendConnection* connection, IbusEngineOptions options) {
  g_connection = connection;
  g_options = options;
}

GType KaviEngineGetType() {
  return kavi_engine_get_type();
}

}  // namespace kavi::win

using kavi::win::Bridge;

static void kavi_engine_init(KaviEngine* self) {
  self->bridge = new kavi::win::EngineBridge(IBUS_ENGINE(self));
}

static void kavi_engine_destroy(IBusObject* object) {
  auto* self = reinterpret_cast<KaviEngine*>(object);
  delete self->bridge;
  self->bridge = nullptr;
  IBUS_OBJECT_CLASS(kavi_engine_parent_class)->destroy(object);
}

static void kavi_engine_class_init(KaviEngineClass* klass) {
  IBUS_OBJECT_CLASS(klass)->destroy = kavi_engine_destroy;
  IBusEngineClass* engine = IBUS_ENGINE_CLASS(klass);
  engine->process_key_event = [](IBusEngine* e, guint keyval, guint, guint state) -> gboolean {
    return Bridge(e) ? Bridge(e)->ProcessKey(keyval, state) : FALSE;
  };
  engine->focus_in = [](IBusEngine* e) {
    if (Bridge(e)) Bridge(e)->FocusIn();
  };
  engine->focus_out = [](IBusEngine* e) {
    if (Bridge(e)) Bridge(e)->FocusOut();
  };
  engine->reset = [](IBusEngine* e) {
    if (Bridge(e)) Bridge(e)->Reset();
  };
  engine->disable = [](IBusEngine* e) {
    if (Bridge(e)) Bridge(e)->FocusOut();
  };
  engine->set_cursor_location = [](IBusEngine* e, gint x, gint y, gint w, gint h) {
    if (Bridge(e)) Bridge(e)->SetCursorLocation(x, y, w, h);
  };
  engine->property_activate = [](IBusEngine* e, const gchar* name, guint state) {
    if (Bridge(e)) Bridge(e)->PropertyActivate(name, state);
  };
  engine->candidate_clicked = [](IBusEngine* e, guint index, guint, guint) {
    if (Bridge(e)) Bridge(e)->CandidateClicked(index);
  };
  engine->page_up = [](IBusEngine* e) {
    if (Bridge(e)) Bridge(e)->PageUp();
  };
  engine->page_down = [](IBusEngine* e) {
    if (Bridge(e)) Bridge(e)->PageDown();
  };
  engine->cursor_up = [](IBusEngine* e) {
    if (Bridge(e)) Bridge(e)->CursorUp();
  };
  engine->cursor_down = [](IBusEngine* e) {
    if (Bridge(e)) Bridge(e)->CursorDown();
  };
}
