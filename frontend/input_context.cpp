// SPDX-License-Identifier: Apache-2.0
#include "frontend/input_context.h"

#include <cstring>

#include "frontend/key_mapping.h"
#include "frontend/server_command_requests.h"
#include "protocol/keysyms.h"

namespace kavi::win {
namespace {

bool IsState(const PipeResponse& reply) {
  return reply.kind == static_cast<uint16_t>(ReplyKind::State);
}

// A key whose connection broke is sent again on a new one, twice at most: after that the server
// is in trouble, and the key goes to the application.
constexpr int kKeyAttempts = 3;

bool SameRect(const ScreenRect& a, const ScreenRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

ContextView ViewOfState(const PipeResponse& state) {
  ContextView view;
  view.preedit = std::string(TextFieldView(state.preedit));
  view.cursor = state.cursor;
  view.inline_preedit = state.tail_flag != 0;
  for (uint32_t i = 0; i < state.candidate_count && i < kMaxCandidateSlots; ++i)
    view.candidates.push_back({std::string(TextFieldView(state.candidates[i].text)),
                               std::string(TextFieldView(state.candidates[i].comment))});
  view.highlighted = state.highlighted;
  view.page_number = state.page_number;
  view.last_page = state.last_page != 0;
  view.ascii_mode = state.ascii_mode != 0;
  return view;
}

InputContext::InputContext(FrontendConnection& connection, FrontendSink& sink)
    : connection_(connection), sink_(sink), id_(connection.NewContextId()) {}

InputContext::~InputContext() {
  if (focused()) FocusOut();
}

bool InputContext::focused() const {
  return connection_.focused_ == this;
}

std::optional<PipeResponse> InputContext::Send(PipeRequest request) {
  request.context_id = id_;
  return connection_.channel().Transact(request);
}

std::optional<PipeResponse> InputContext::Send(RequestKind kind, uint32_t argument) {
  PipeRequest request = MakeRequest(kind);
  request.argument = argument;
  return Send(request);
}

bool InputContext::FocusIn() {
  // Focus moving between two fields of this process: the old field's composition ends here,
  // whenever the framework gets round to telling it.
  if (connection_.focused_ && connection_.focused_ != this) connection_.focused_->FocusOut();
  connection_.focused_ = this;
  connection_.focus_connection_ = 0;
  journal_.Clear();
  return EnsureFocus();
}

bool InputContext::EnsureFocus() {
  if (!focused()) FocusIn();
  RequestChannel& channel = connection_.channel();
  if (!channel.EnsureConnected()) return false;
  if (connection_.focus_connection_ == channel.ConnectionId()) return true;
  // The focus was held on a connection that has ended since (a reply slower than the time-out,
  // a restarted server): the server dropped that connection's composition with it.
  const bool connection_lost = connection_.focus_connection_ != 0;
  std::optional<PipeResponse> reply = Send(RequestKind::FocusIn);
  if (!reply || !IsState(*reply)) return false;
  connection_.focus_connection_ = channel.ConnectionId();
  if (has_caret_) {
    PipeRequest caret = MakeRequest(RequestKind::SetCaretRect);
    caret.rect = caret_;
    caret.argument = caret_anchor_ ? 1 : 0;
    Send(caret);
  }
  if (connection_lost && journal_.Replayable()) {
    reply = Rebuild(*reply);
    if (!reply) return false;
  }
  Apply(*reply);
  return true;
}

std::optional<PipeResponse> InputContext::Rebuild(PipeResponse last) {
  // Apply below may touch the journal.
  const std::vector<PipeRequest> requests = journal_.requests();
  for (const PipeRequest& request : requests) {
    std::optional<PipeResponse> reply = Send(request);
    // The new connection broke as well: the journal is kept for the next one.
    if (!reply) return std::nullopt;
    if (!IsState(*reply)) {
      // The server takes no keys now (a job restarts the engine): what was rebuilt stays.
      journal_.Clear();
      break;
    }
    // The same requests get the same answers, and none of them committed the first time; should
    // one commit now all the same, its text goes into the document rather than nowhere.
    if (reply->has_commit || reply->commit_pending) Apply(*reply);
    last = *reply;
  }
  return last;
}

void InputContext::FocusOut() {
  // The framework may tell this context that it lost the focus after another context of the
  // same process already took it: that FocusOut would clear the other one's composition.
  if (!focused()) return;
  connection_.focused_ = nullptr;
  if (connection_.focus_connection_ != 0 &&
      connection_.focus_connection_ == connection_.channel().ConnectionId())
    Send(RequestKind::FocusOut);
  connection_.focus_connection_ = 0;
  ClearView();
}

bool InputContext::ProcessKey(uint32_t keysym, uint32_t framework_state) {
  const uint32_t modifiers = WireModifiers(framework_state);
  if (keysym == keys::kF8 && (modifiers & keys::kChordMask) == 0) {
    // The dictation key is the front end's own: its release goes nowhere either.
    if ((modifiers & keys::kReleaseMask) == 0) ToggleVoice(&voice_message_);
    return true;
  }
  PipeRequest request = MakeRequest(RequestKind::KeyEvent);
  request.key_code = keysym;
  request.modifiers = WireModifiers(framework_state);
  // A connection found broken (a restarted server), or ended by a reply slower than the time-out,
  // is replaced, the composition rebuilt on the new one, and the key sent again.
  std::optional<PipeResponse> reply;
  for (int attempt = 0; attempt < kKeyAttempts && !reply; ++attempt) {
    // A rebuild that broke off on the new connection is tried again on the next one.
    if (EnsureFocus()) reply = Send(request);
  }
  if (!reply || !IsState(*reply)) return false;
  if (reply->result != 0 && (request.modifiers & keys::kReleaseMask) == 0) journal_.Add(request);
  Apply(*reply);
  return reply->result != 0;
}

void InputContext::Reset() {
  if (!focused() || !view_.Composing()) return;
  if (!EnsureFocus()) return;
  std::optional<PipeResponse> reply = Send(RequestKind::CancelComposition);
  if (reply && IsState(*reply))
    Apply(*reply);
  else
    ClearView();
}

void InputContext::SetCaret(const ScreenRect& caret, bool has_anchor) {
  const bool changed = !has_caret_ || !SameRect(caret, caret_) || has_anchor != caret_anchor_;
  caret_ = caret;
  caret_anchor_ = has_anchor;
  has_caret_ = true;
  if (!changed || !focused() || !EnsureFocus()) return;
  PipeRequest request = MakeRequest(RequestKind::SetCaretRect);
  request.rect = caret;
  request.argument = has_anchor ? 1 : 0;
  Send(request);
}

void InputContext::Poll() {
  if (!focused() || !EnsureFocus()) return;
  std::optional<PipeResponse> reply = Send(RequestKind::PollAsync);
  if (!reply || !IsState(*reply)) return;
  if (reply->status_code == kDeliveredResultStatus) {
    Apply(*reply);
    return;
  }
  std::optional<PipeRequest> answer =
      RequestForServerCommand(reply->status_code, reply->value, id_);
  if (!answer) return;
  std::optional<PipeResponse> result = Send(*answer);
  if (!result || !IsState(*result)) return;
  journal_.Add(*answer);
  Apply(*result);
}

void InputContext::ToggleAsciiMode() {
  if (!EnsureFocus()) return;
  std::optional<PipeResponse> reply = Send(RequestKind::ToggleAsciiMode);
  if (reply && IsState(*reply)) Apply(*reply);
}

bool InputContext::ToggleVoice(std::string* message) {
  if (!EnsureFocus()) {
    *message = "the server cannot be reached";
    return false;
  }
  std::optional<PipeResponse> reply = Send(RequestKind::VoiceToggle);
  if (!reply) {
    *message = "the server did not answer";
    return false;
  }
  if (reply->kind != static_cast<uint16_t>(ReplyKind::Ok)) {
    *message = std::string(TextFieldView(reply->commit_text));
    if (message->empty()) *message = "voice input is not available";
    return false;
  }
  message->clear();
  return true;
}

void InputContext::SelectCandidate(uint32_t row) {
  Edit(RequestKind::SelectCandidate, row);
}

void InputContext::ChangePage(bool forward) {
  Edit(RequestKind::ChangePage, forward ? 1u : static_cast<uint32_t>(-1));
}

void InputContext::HighlightCandidate(uint32_t row) {
  Edit(RequestKind::HighlightCandidate, row);
}

void InputContext::Edit(RequestKind kind, uint32_t argument) {
  if (!EnsureFocus()) return;
  PipeRequest request = MakeRequest(kind);
  request.argument = argument;
  std::optional<PipeResponse> reply = Send(request);
  if (!reply || !IsState(*reply)) return;
  journal_.Add(request);
  Apply(*reply);
}

void InputContext::Apply(const PipeResponse& reply) {
  if (reply.has_commit) sink_.Commit(std::string(TextFieldView(reply.commit_text)));
  // The server refuses everything else until the client says the text is in the document.
  if (reply.commit_pending) Send(RequestKind::AckCommit);
  view_ = ViewOfState(reply);
  journal_.Observe(view_.Composing(), reply.has_commit != 0);
  sink_.Show(view_);
}

void InputContext::ClearView() {
  journal_.Clear();
  if (!view_.Composing()) return;
  const bool ascii = view_.ascii_mode;
  view_ = ContextView{};
  view_.ascii_mode = ascii;
  sink_.Show(view_);
}

}  // namespace kavi::win
