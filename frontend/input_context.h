// SPDX-License-Identifier: Apache-2.0
// The framework-neutral half of a front end: one input context (a text field of an
// application) talking to the server through the process's one connection. It turns the
// framework's events into requests and each reply into what the framework must do: insert
// committed text (then acknowledge it), show the preedit and the candidates, pass a key on.
// The IBus engine and kavi-client are thin layers over it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frontend/composition_journal.h"
#include "frontend/request_channel.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

// Status code of a PollAsync reply that delivers a finished result (voice text, a plug-in
// job's page) rather than a command.
inline constexpr uint32_t kDeliveredResultStatus = 4;

struct ViewCandidate {
  std::string text;
  std::string comment;
};

// What the server says the context should show.
struct ContextView {
  std::string preedit;
  uint32_t cursor = 0;          // bytes into the preedit
  bool inline_preedit = false;  // show the preedit inside the document
  std::vector<ViewCandidate> candidates;
  uint32_t highlighted = 0;
  uint32_t page_number = 0;
  bool last_page = false;
  bool ascii_mode = false;

  bool Composing() const { return !preedit.empty() || !candidates.empty(); }
};

ContextView ViewOfState(const PipeResponse& state);

// The framework's side of one input context.
class FrontendSink {
 public:
  virtual ~FrontendSink() = default;
  // Inserts text into the document, now: the server is told it arrived right after.
  virtual void Commit(const std::string& text) = 0;
  virtual void Show(const ContextView& view) = 0;
};

class InputContext;

// What all input contexts of one process share: the connection and which context holds the
// server's focus.
class FrontendConnection {
 public:
  explicit FrontendConnection(RequestChannel& channel) : channel_(channel) {}
  RequestChannel& channel() { return channel_; }
  uint64_t NewContextId() { return ++last_context_id_; }

 private:
  friend class InputContext;
  RequestChannel& channel_;
  uint64_t last_context_id_ = 0;
  InputContext* focused_ = nullptr;  // null: none of ours
  uint64_t focus_connection_ = 0;    // the connection the focus was claimed on
};

class InputContext {
 public:
  InputContext(FrontendConnection& connection, FrontendSink& sink);
  ~InputContext();
  InputContext(const InputContext&) = delete;
  InputContext& operator=(const InputContext&) = delete;

  uint64_t id() const { return id_; }
  bool focused() const;
  const ContextView& view() const { return view_; }

  // True when the server took the focus (it refuses a client that is not in the foreground).
  bool FocusIn();
  void FocusOut();
  // True when the server consumed the key; false passes it on to the application (also when
  // the server cannot be reached, so that typing never stops).
  bool ProcessKey(uint32_t keysym, uint32_t framework_state);
  void Reset();  // drops the composition
  void SetCaret(const ScreenRect& caret, bool has_anchor);
  // Collects what the server holds for this context: a finished asynchronous result, or a
  // command from the candidate window or the toolbar, which is answered at once.
  void Poll();
  bool Composing() const { return view_.Composing(); }
  void ToggleAsciiMode();
  // Starts or stops dictation (ProcessKey does this for F8 without modifiers); the recognised
  // text arrives through Poll as a commit. False with the server's reason when it refused.
  bool ToggleVoice(std::string* message);
  // What the server said to the last F8: empty when it took it.
  const std::string& voice_message() const { return voice_message_; }
  // Candidate actions of a framework's own candidate list.
  void SelectCandidate(uint32_t row);
  void ChangePage(bool forward);
  void HighlightCandidate(uint32_t row);

 private:
  // Claims the focus again when the connection was replaced since it was claimed, so that a
  // server restart does not leave the context typing into nothing, and rebuilds the
  // composition the old connection took with it.
  bool EnsureFocus();
  // Replays the journal on a new connection; the reply to its last request (`last` when none
  // was replayed), or nullopt when the new connection broke too.
  std::optional<PipeResponse> Rebuild(PipeResponse last);
  std::optional<PipeResponse> Send(PipeRequest request);
  std::optional<PipeResponse> Send(RequestKind kind, uint32_t argument = 0);
  // Sends a request that edits the composition (a candidate pick, a page turn, a highlight),
  // applies its reply and journals it.
  void Edit(RequestKind kind, uint32_t argument);
  // Commits (then acknowledges) and shows what a State reply carries.
  void Apply(const PipeResponse& reply);
  void ClearView();

  FrontendConnection& connection_;
  FrontendSink& sink_;
  const uint64_t id_;
  ScreenRect caret_{};
  bool has_caret_ = false;
  bool caret_anchor_ = false;
  ContextView view_;
  CompositionJournal journal_;
  std::string voice_message_;
};

}  // namespace kavi::win
