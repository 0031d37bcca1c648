// SPDX-License-Identifier: Apache-2.0
#include "server/session/client_session.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include "ovra/engine_api.h"
#include "platform/clock.h"
#include "platform/heap.h"
#include "platform/identity.h"
#include "platform/log.h"
#include "platform/process.h"
#include "plugins/plugin_actions.h"
#include "server/engine/engine_lock.h"
#include "server/session/requests/catalog_requests.h"
#include "server/session/requests/companion_requests.h"
#include "server/session/requests/key_sound_requests.h"
#include "server/session/requests/maintenance_requests.h"
#include "server/session/requests/pack_requests.h"
#include "server/session/requests/request_replies.h"
#include "server/session/requests/voice_requests.h"
#include "server/session/stroke_keys.h"

namespace kavi::win {
namespace {

constexpr uint32_t kNoticeStatus = 4;  // status code of a delivered asynchronous result
constexpr int kMaxPanelCandidates = 100;

RequestKind KindOf(const PipeRequest& r) {
  return static_cast<RequestKind>(r.kind);
}

// The engine's Traditional-to-Simplified conversion; the text unchanged when the engine cannot
// convert. The caller holds the engine lock.
std::string SimplifiedByEngine(const std::string& text) {
  char* converted = kavi_convert_text(text.c_str(), "t2s");
  if (converted == nullptr) return text;
  std::string simplified = converted;
  std::free(converted);
  return simplified;
}

bool Chorded(uint32_t modifiers) {
  return (modifiers & keys::kChordMask) != 0;
}
bool Released(uint32_t modifiers) {
  return (modifiers & keys::kReleaseMask) != 0;
}

std::string EngineInput() {
  const char* input = kavi_get_input();
  return input ? input : "";
}

std::string ExpandInput(const std::string& code) {
  if (code.empty()) return {};
  const char* expanded = kavi_expand_input(code.c_str());
  return expanded ? expanded : "";
}

bool AsciiMode() {
  return kavi_get_option("ascii_mode");
}

// Kinds that need the client to be in the foreground before anything else is looked at.
bool NeedsForegroundEarly(RequestKind kind) {
  switch (kind) {
    case RequestKind::SyncAndRedeploy:
    case RequestKind::Redeploy:
    case RequestKind::InstallPack:
    case RequestKind::RemovePack:
    case RequestKind::PlayKeySound:
    case RequestKind::DownloadVoiceModel:
    case RequestKind::RemoveVoiceModel:
    case RequestKind::PollVoiceResult:
    case RequestKind::VoiceToggleAlt:
    case RequestKind::CancelVoiceModelJob:
    case RequestKind::CancelVoiceModelJobAlt:
    case RequestKind::PreviewTheme:
    case RequestKind::ToggleAsciiMode:
    case RequestKind::CancelPackJob:
    case RequestKind::CancelPackJobAlt:
      return true;
    default:
      return false;
  }
}

// Kinds that only look at the busy flag.
bool BusyLooking(RequestKind kind) {
  switch (kind) {
    case RequestKind::KeyEvent:
    case RequestKind::CancelComposition:
    case RequestKind::SelectCandidate:
    case RequestKind::ChangePage:
    case RequestKind::HighlightCandidate:
    case RequestKind::CommitCandidate:
    case RequestKind::HoverCandidate:
    case RequestKind::ToggleAsciiMode:
      return true;
    default:
      return false;
  }
}

void ReleaseHeapWhenDue(ServerShared& shared) {
  if (shared.heap_release.Due(TickCount64())) ReleaseFreeHeap();
}

}  // namespace

ClientSession::ClientSession(const SessionServices& services, ServerShared& shared,
                             uint32_t client_pid, uint16_t client_architecture, uint64_t nonce)
    : services_(services),
      shared_(shared),
      client_pid_(client_pid),
      client_architecture_(client_architecture),
      nonce_(nonce),
      foreground_(services.is_framework_bridge && services.is_framework_bridge(client_pid)),
      plugin_(
          services.plugins, [this] { return MakePluginContext(); },
          [this](uint32_t kind, const std::string& payload) {
            return RunPluginAction(kind, payload);
          }) {
  std::memset(&last_state_, 0, sizeof last_state_);
}

ClientSession::~ClientSession() = default;

ClientSession::Outcome ClientSession::ReplyWith(PipeResponse reply, bool shutdown_after) {
  Outcome out;
  out.verdict = Verdict::Reply;
  out.reply = reply;
  out.shutdown_after_reply = shutdown_after;
  return out;
}

ClientSession::Outcome ClientSession::Handle(const PipeRequest& request, size_t size) {
  Outcome end;
  if (size != kRequestSize) return end;
  if (!RequestHeaderValid(request)) {
    // The mismatch reply is the last thing this session sends.
    if (request.magic == kPipeMagic) end.reply = MakeVersionMismatchReply(request);
    return end;
  }
  if (request.process_id != client_pid_) return end;
  if (request.sequence <= last_sequence_) return end;
  last_sequence_ = request.sequence;
  plugin_.ReapSuperseded();

  if (!handshake_done_) {
    if (KindOf(request) != RequestKind::Handshake || request.architecture == kArchUnknown ||
        request.architecture != client_architecture_)
      return end;
    PipeResponse reply = MakeSimpleReply(request, ReplyKind::Ok, true);
    reply.session_nonce = nonce_;
    handshake_done_ = true;
    return ReplyWith(reply);
  }
  if (request.session_nonce != nonce_ || request.architecture != client_architecture_ ||
      !ThreadBelongsToProcess(client_pid_, request.thread_id))
    return end;
  return Dispatch(request);
}

bool ClientSession::OwnsActiveWindow() const {
  return !services_.is_foreground || services_.is_foreground(client_pid_);
}

bool ClientSession::Foreground() const {
  return foreground_.Passes(shared_.focus_owner.IsSession(client_pid_, nonce_),
                            [this] { return OwnsActiveWindow(); });
}

bool ClientSession::OwnsComposition() const {
  // Where every client counts as foreground (no window manager to ask), this is what keeps one
  // client from picking, paging or cancelling another's words.
  return shared_.focus_owner.IsSession(client_pid_, nonce_);
}

bool ClientSession::IsOwner(const PipeRequest& r) const {
  return shared_.focus_owner.Is(r.process_id, r.thread_id, r.session_nonce, r.context_id);
}

ClientSession::Outcome ClientSession::Dispatch(const PipeRequest& r) {
  const RequestKind kind = KindOf(r);

  if (IsCompanionRequest(kind)) {
    if (!Foreground()) return ReplyWith(RefusedReply(r));
    return ReplyWith(HandleCompanionRequest(r, services_.companion, &cancellation_));
  }
  if (kind == RequestKind::QueryServerPid || kind == RequestKind::Shutdown) {
    if (!Foreground()) return ReplyWith(RefusedReply(r));
    if (kind == RequestKind::QueryServerPid) {
      PipeResponse reply = OkReply(r);
      reply.value = CurrentProcessId();
      return ReplyWith(reply);
    }
    return ReplyWith(OkReply(r), /*shutdown_after=*/true);
  }
  if (NeedsForegroundEarly(kind) && !Foreground()) return ReplyWith(RefusedReply(r));

  if (IsCatalogRequest(kind))
    return ReplyWith(HandleCatalogRequest(r, services_.catalog, services_.window));
  if (IsMaintenanceRequest(kind))
    return ReplyWith(HandleMaintenanceRequest(r, services_.maintenance, shared_.jobs));
  if (IsPackRequest(kind)) return ReplyWith(HandlePackRequest(r, services_.packs, shared_.jobs));
  if (kind == RequestKind::PlayKeySound)
    return ReplyWith(HandleKeySoundRequest(r, services_.key_sounds));
  if (IsVoiceRequest(kind)) {
    return ReplyWith(HandleVoiceRequest(r, services_.voice, shared_.voice_slots, services_.window));
  }

  if (BusyLooking(kind) && shared_.jobs.busy) return ReplyWith(BusyReply(r));
  std::lock_guard<std::mutex> engine(EngineLock());
  return DispatchGeneral(r);
}

ClientSession::Outcome ClientSession::DispatchGeneral(const PipeRequest& r) {
  const RequestKind kind = KindOf(r);
  if (commit_pending_ && kind != RequestKind::FocusOut && kind != RequestKind::AckCommit &&
      kind != RequestKind::AckCommitAndClear)
    return ReplyWith(RefusedReply(r));

  switch (kind) {
    case RequestKind::FocusIn:
      return ReplyWith(OnFocusIn(r));
    case RequestKind::FocusOut:
      return ReplyWith(OnFocusOut(r));
    case RequestKind::KeyEvent:
      return ReplyWith(OnKeyEvent(r));
    case RequestKind::CancelComposition:
      return ReplyWith(OnCancel(r));
    case RequestKind::SelectCandidate:
    case RequestKind::ChangePage:
    case RequestKind::HighlightCandidate:
      return ReplyWith(OnSelectPageHighlight(r));
    case RequestKind::AckCommit:
    case RequestKind::AckCommitAndClear:
      return ReplyWith(OnAck(r));
    case RequestKind::SetCaretRect:
      if (services_.window) {
        const ScreenRect caret = r.rect;
        services_.window->SetAnchor(caret, r.argument != 0);
      }
      return ReplyWith(OkReply(r));
    case RequestKind::PollAsync:
      return ReplyWith(OnPollAsync(r));
    case RequestKind::CommitCandidate:
      return ReplyWith(OnCommitCandidate(r));
    case RequestKind::HoverCandidate:
      return ReplyWith(OnHoverCandidate(r));
    case RequestKind::ToggleAsciiMode:
      return ReplyWith(OnToggleAscii(r));
    default:
      return ReplyWith(FinishState(BuildState(r, true)));
  }
}

// ---- General handlers -------------------------------------------------------------------------

PipeResponse ClientSession::OnFocusIn(const PipeRequest& r) {
  if (!foreground_.PassesFocusIn([this] { return OwnsActiveWindow(); })) return RefusedReply(r);
  foreground_.FocusGained();
  FocusOwner& owner = shared_.focus_owner;
  if (!owner.Empty() && !owner.IsSession(client_pid_, nonce_)) kavi_clear_composition();
  owner.Set(r.process_id, r.thread_id, r.session_nonce, r.context_id);
  TellToolbarFocus(true);
  ClearPlugin();
  ClearPanel();
  HideWindow();
  ForgetCloudContext();
  return FinishState(BuildState(r, true), /*show_in_window=*/false);
}

PipeResponse ClientSession::OnFocusOut(const PipeRequest& r) {
  foreground_.FocusLost();
  kavi_clear_composition();
  commit_pending_ = false;
  ClearPlugin();
  ClearPanel();
  HideWindow();
  shared_.notice.Clear();
  TellToolbarFocus(false);
  ForgetCloudContext();
  std::memset(&last_state_, 0, sizeof last_state_);
  last_entries_.clear();
  return OkReply(r);
}

PipeResponse ClientSession::OnCancel(const PipeRequest& r) {
  if (!Foreground() || !OwnsComposition()) return RefusedReply(r);
  ClearPlugin();
  ClearPanel();
  kavi_clear_composition();
  // The application reset its input (the caret moved, the field was cleared): the next word
  // does not follow the last one.
  ForgetCloudContext();
  PipeResponse reply = FinishState(BuildState(r, true), /*show_in_window=*/false);
  HideWindow();
  return reply;
}

PipeResponse ClientSession::OnSelectPageHighlight(const PipeRequest& r) {
  if (!Foreground() || !OwnsComposition()) return RefusedReply(r);
  const RequestKind kind = KindOf(r);
  const int32_t argument = static_cast<int32_t>(r.argument);
  if (plugin_.active()) {
    PluginSessionResult result;
    PluginSession& session = plugin_.session();
    if (kind == RequestKind::ChangePage)
      session.HandleKey(argument < 0 ? keys::kPageUp : keys::kPageDown, false, false, &result);
    else if (kind == RequestKind::HighlightCandidate)
      session.Highlight(argument, &result) || session.Refresh(&result);
    else {
      PlayKeySound(keys::kReturn);
      session.Choose(argument, &result);
    }
    PipeResponse reply = PluginReply(r, result);
    if (kind == RequestKind::SelectCandidate && reply.has_commit) MarkCommitPending(r.context_id);
    return FinishState(reply);
  }
  if (kind == RequestKind::ChangePage) {
    kavi_change_page(argument < 0);
    return FinishState(BuildState(r, true));
  }
  if (kind == RequestKind::HighlightCandidate) {
    bool ok = HighlightListSlot(argument);
    return FinishState(BuildState(r, ok));
  }
  CloudCommit cloud_commit;
  PlayKeySound(keys::kReturn);
  bool selected = SelectListSlot(argument, &cloud_commit);
  PipeResponse reply =
      BuildState(r, selected, cloud_commit.text.empty() ? nullptr : &cloud_commit);
  if (selected && reply.has_commit) MarkCommitPending(r.context_id);
  return FinishState(reply);
}

PipeResponse ClientSession::OnAck(const PipeRequest& r) {
  // The owner is the session (any of the client's threads may acknowledge), for the context the
  // commit was made for.
  FocusOwner& owner = shared_.focus_owner;
  const bool accepted = commit_pending_ && owner.IsSession(client_pid_, nonce_) &&
                        owner.context_id == r.context_id && r.context_id == pending_context_;
  if (!accepted) return FinishState(BuildState(r, true));
  if (KindOf(r) == RequestKind::AckCommitAndClear) kavi_clear_composition();
  commit_pending_ = false;
  std::memset(&last_state_, 0, sizeof last_state_);
  last_entries_.clear();
  return OkReply(r);
}

PipeResponse ClientSession::OnPollAsync(const PipeRequest& r) {
  if (!IsOwner(r) || !Foreground()) return OkReply(r);
  if (std::optional<VoiceTextSlots::Piece> piece =
          shared_.voice_slots.Take(VoiceTextSlots::kOwnerSlot)) {
    PipeResponse reply = MakeSimpleReply(r, ReplyKind::State, true);
    reply.status_code = kNoticeStatus;
    if (piece->commit) {
      reply.has_commit = 1;
      CopyTextField(reply.commit_text, piece->text);
      MarkCommitPending(r.context_id);
      reply.commit_pending = 1;
    } else {
      reply.candidate_count = 1;
      CopyTextField(reply.candidates[0].text, piece->text);
    }
    return reply;
  }
  if (std::optional<PipeResponse> reply = DeliverPluginJob(r)) return *reply;
  if (std::optional<DeferredNotice::Notice> notice =
          shared_.notice.TakeFor(r.context_id, r.session_nonce)) {
    PipeResponse reply = MakeSimpleReply(r, ReplyKind::State, true);
    reply.status_code = notice->code;
    reply.value = notice->value;
    return reply;
  }
  return OkReply(r);
}

PipeResponse ClientSession::OnCommitCandidate(const PipeRequest& r) {
  if (!Foreground() || !OwnsComposition()) return RefusedReply(r);
  bool selected = kavi_select_candidate(static_cast<int32_t>(r.argument));
  if (selected) {
    ClearPanel();
    ClearPlugin();
  }
  PipeResponse reply = BuildState(r, selected);
  if (selected && reply.has_commit) MarkCommitPending(r.context_id);
  return FinishState(reply);
}

PipeResponse ClientSession::OnHoverCandidate(const PipeRequest& r) {
  if (!Foreground() || !OwnsComposition()) return RefusedReply(r);
  const int32_t index = static_cast<int32_t>(r.argument);
  if (panel_.active) {
    if (index >= 0 && index < static_cast<int32_t>(panel_.rows.size())) {
      panel_.highlighted = index;
      if (services_.window) services_.window->SetPanelHighlight(index);
    }
    return ResendLastState(r);
  }
  if (plugin_.active()) {
    PluginSessionResult result;
    if (!plugin_.session().Highlight(index, &result)) plugin_.session().Refresh(&result);
    return FinishState(PluginReply(r, result));
  }
  bool ok = HighlightListSlot(index);
  return FinishState(BuildState(r, ok));
}

PipeResponse ClientSession::OnToggleAscii(const PipeRequest& r) {
  if (!Foreground()) return RefusedReply(r);
  kavi_clear_composition();
  kavi_set_option("ascii_mode", !AsciiMode());
  ClearPlugin();
  ClearPanel();
  return FinishState(BuildState(r, true));
}

// ---- Key events -------------------------------------------------------------------------------

PipeResponse ClientSession::OnKeyEvent(const PipeRequest& r) {
  if (!IsOwner(r) || !Foreground()) return FinishState(BuildState(r, false));
  const uint32_t key = r.key_code;
  const bool release = Released(r.modifiers);
  const bool shift_key = key == keys::kShiftL || key == keys::kShiftR;

  if (std::optional<PipeResponse> reply = ShiftToggleStep(r)) return *reply;

  if (!shift_key && AsciiMode()) {
    if (release) {
      ClearPlugin();
      ClearPanel();
    }
    return FinishState(BuildState(r, false));
  }

  if (!release && !keys::IsModifierKey(key)) PlayKeySound(key);

  if (std::optional<PipeResponse> reply = PanelKeyStep(r)) return *reply;
  if (std::optional<PipeResponse> reply = PluginKeyStep(r)) return *reply;
  if (std::optional<PipeResponse> reply = MergedListStep(r)) return *reply;

  // The engine.
  uint32_t engine_key = key;
  SessionSettings settings = shared_.settings.Get();
  if (settings.custom_stroke_layout()) {
    StrokeKeyResult mapped = MapStrokeKey(key, r.modifiers, settings.stroke_keys, EngineInput());
    if (mapped.consumed) return FinishState(BuildState(r, true));
    engine_key = mapped.key;
  }
  bool consumed = kavi_process_key(engine_key, r.modifiers);
  const bool had_candidates = last_state_.candidate_count > 0;
  const uint32_t previous_page = last_state_.page_number;
  PipeResponse reply = BuildState(r, consumed);
  if (consumed && had_candidates) MaybeOpenPanel(previous_page, reply);
  return FinishState(reply);
}

std::optional<PipeResponse> ClientSession::ShiftToggleStep(const PipeRequest& r) {
  const uint32_t key = r.key_code;
  const bool release = Released(r.modifiers);
  const bool shift_key = key == keys::kShiftL || key == keys::kShiftR;
  if (shift_key && shared_.settings.Get().shift_toggle) {
    if (!release) {
      shift_armed_ = !Chorded(r.modifiers);
      return FinishState(BuildState(r, true));
    }
    if (shift_armed_) {
      shift_armed_ = false;
      kavi_clear_composition();
      kavi_set_option("ascii_mode", !AsciiMode());
      return FinishState(BuildState(r, true));
    }
    return std::nullopt;
  }
  if (!release) shift_armed_ = false;
  return std::nullopt;
}

std::optional<PipeResponse> ClientSession::PanelKeyStep(const PipeRequest& r) {
  if (!panel_.active || Chorded(r.modifiers)) return std::nullopt;
  const uint32_t key = r.key_code;
  const bool release = Released(r.modifiers);
  const int count = static_cast<int>(panel_.rows.size());
  const int per_page = std::max(panel_.rows_per_page, 1);

  if (key == keys::kBackSpace || key == keys::kDelete || (key >= 'A' && key <= 'Z') ||
      (key >= 'a' && key <= 'z')) {
    ClearPanel();
    return std::nullopt;
  }
  if (release) return std::nullopt;

  if (key == keys::kEscape) {
    ClearPanel();
    return FinishState(BuildState(r, true));
  }
  auto select = [&](int row) -> PipeResponse {
    bool selected = row >= 0 && row < count && kavi_select_candidate(row - last_page_start_);
    ClearPanel();
    PipeResponse reply = BuildState(r, true);
    if (selected && reply.has_commit) MarkCommitPending(r.context_id);
    return FinishState(reply);
  };
  if (key == keys::kReturn || key == keys::kSpace) return select(panel_.highlighted);
  if ((key >= '1' && key <= '9') || key == '0') {
    int slot = key == '0' ? 9 : static_cast<int>(key - '1');
    int page_start = panel_.highlighted / per_page * per_page;
    if (slot >= per_page) return ResendLastState(r);
    return select(page_start + slot);
  }

  int target = panel_.highlighted;
  // Within a page the rows run along a line (row-major) or down a column.
  const int along = 1, across = per_page;
  switch (key) {
    case keys::kLeft:
      target -= panel_.row_major ? along : across;
      break;
    case keys::kRight:
      target += panel_.row_major ? along : across;
      break;
    case keys::kUp:
      target -= panel_.row_major ? across : along;
      break;
    case keys::kDown:
      target += panel_.row_major ? across : along;
      break;
    case keys::kPageUp:
    case ',':
    case '-':
    case '[':
      target -= per_page;
      break;
    case keys::kPageDown:
    case '.':
    case '=':
    case ']':
      target += per_page;
      break;
    default:
      return std::nullopt;
  }
  if (target >= 0 && target < count) {
    panel_.highlighted = target;
    if (services_.window) services_.window->SetPanelHighlight(target);
  }
  return ResendLastState(r);
}

std::optional<PipeResponse> ClientSession::MergedListStep(const PipeRequest& r) {
  if (Chorded(r.modifiers) || Released(r.modifiers)) return std::nullopt;
  if (last_entries_.empty() || !ListDiffersFromEnginePage(last_entries_, last_page_start_))
    return std::nullopt;
  const uint32_t key = r.key_code;
  const int highlighted = static_cast<int>(last_state_.highlighted);
  int slot = -1;
  bool select = true;
  if (key >= '1' && key <= '9')
    slot = static_cast<int>(key - '1');
  else if (key == '0')
    slot = 9;
  else if (key == keys::kSpace)
    slot = highlighted;
  else if (key == keys::kUp || key == keys::kDown) {
    slot = highlighted + (key == keys::kUp ? -1 : 1);
    select = false;
  } else {
    return std::nullopt;
  }
  if (slot < 0 || slot >= static_cast<int>(last_entries_.size())) return std::nullopt;
  if (!select) {
    HighlightListSlot(slot);
    return FinishState(BuildState(r, true));
  }
  CloudCommit cloud_commit;
  bool selected = SelectListSlot(slot, &cloud_commit);
  PipeResponse reply = BuildState(r, true, cloud_commit.text.empty() ? nullptr : &cloud_commit);
  if (selected && reply.has_commit) MarkCommitPending(r.context_id);
  return FinishState(reply);
}

bool ClientSession::SelectListSlot(int slot, CloudCommit* cloud_commit) {
  if (slot < 0) return false;
  if (slot < static_cast<int>(last_entries_.size())) {
    const CandidateEntry& entry = last_entries_[static_cast<size_t>(slot)];
    if (entry.cloud) {
      // The input is read before the composition that holds it is cleared.
      *cloud_commit = {entry.text, EngineInput()};
      kavi_clear_composition();
      return true;
    }
    return kavi_select_candidate(entry.engine_index - last_page_start_);
  }
  return kavi_select_candidate(slot);
}

bool ClientSession::HighlightListSlot(int slot) {
  if (slot < 0) return false;
  if (slot < static_cast<int>(last_entries_.size())) {
    const CandidateEntry& entry = last_entries_[static_cast<size_t>(slot)];
    if (entry.cloud) return false;
    return kavi_highlight_candidate(entry.engine_index - last_page_start_);
  }
  return kavi_highlight_candidate(slot);
}

// ---- The State snapshot -----------------------------------------------------------------------

PipeResponse ClientSession::BuildState(const PipeRequest& r, bool result,
                                       const CloudCommit* commit_override) {
  const SessionSettings settings = shared_.settings.Get();
  PipeResponse reply = MakeSimpleReply(r, ReplyKind::State, result);
  const bool ascii = AsciiMode();
  reply.ascii_mode = ascii ? 1 : 0;
  if (services_.toolbar) services_.toolbar->SetAsciiMode(ascii);
  reply.tail_flag = settings.inline_preedit ? 1 : 0;

  KaviCommit commit;
  std::memset(&commit, 0, sizeof commit);
  std::string commit_text, record_text, input_code;
  if (commit_override) {
    commit_text = record_text = commit_override->text;
    input_code = commit_override->input_code;
  } else if (kavi_get_commit(&commit) && commit.text && *commit.text) {
    commit_text = commit.text;
    record_text =
        commit.alternative_text && *commit.alternative_text ? commit.alternative_text : commit.text;
    input_code = commit.input_code ? commit.input_code : "";
  }
  if (!commit_text.empty()) {
    reply.has_commit = 1;
    WriteTextField(reply.commit_text, commit_text);
    if (services_.cloud) services_.cloud->RecordCommit(record_text, ExpandInput(input_code));
    if (services_.user_data) services_.user_data->NoteCommit();
  }

  last_entries_.clear();
  last_page_start_ = 0;
  KaviContext context;
  std::memset(&context, 0, sizeof context);
  if (!kavi_get_context(&context)) return reply;

  std::string_view preedit = context.preedit ? context.preedit : "";
  WriteTextField(reply.preedit, preedit);
  reply.has_preedit = reply.preedit[0] != 0 ? 1 : 0;
  reply.cursor = static_cast<uint32_t>(context.cursor);
  reply.selection_start = static_cast<uint32_t>(context.selection_start);
  reply.selection_end = static_cast<uint32_t>(context.selection_end);
  reply.page_size = static_cast<uint32_t>(context.page_size);
  reply.page_number = static_cast<uint32_t>(context.page_number);
  reply.menu_count = static_cast<uint32_t>(context.menu_count);
  reply.last_page = context.is_last_page;

  const int32_t page_start = context.page_number * context.page_size;
  std::vector<CandidateEntry> entries;
  const int32_t count = std::min<int32_t>(std::max(context.num_candidates, 0),
                                          static_cast<int32_t>(kMaxCandidateSlots));
  for (int32_t i = 0; i < count && context.candidates; ++i) {
    const KaviCandidate& c = context.candidates[i];
    entries.push_back({c.text ? c.text : "", c.comment ? c.comment : "", false, page_start + i});
  }
  if (settings.cloud_input && !entries.empty()) {
    std::string expanded = ExpandInput(EngineInput());
    const char* hot = expanded.empty() ? nullptr : kavi_cloud_hot_lookup(expanded.c_str());
    std::string hot_word = hot ? hot : "";
    if (!hot_word.empty() && settings.simplified_output()) hot_word = SimplifiedByEngine(hot_word);
    MergeCloudCandidate(&entries, hot_word);
  }
  if (entries.size() > kMaxCandidateSlots) entries.resize(kMaxCandidateSlots);
  int position = PositionOfEngineIndex(entries, page_start + context.highlighted);
  reply.highlighted = static_cast<uint32_t>(position < 0 ? 0 : position);
  reply.candidate_count = static_cast<uint32_t>(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    WriteTextField(reply.candidates[i].text, entries[i].text);
    WriteTextField(reply.candidates[i].comment, entries[i].comment);
  }
  kavi_free_context(&context);
  last_entries_ = std::move(entries);
  last_page_start_ = page_start;
  return reply;
}

PipeResponse ClientSession::FinishState(PipeResponse reply, bool show_in_window) {
  reply.commit_pending = commit_pending_ ? 1 : 0;
  last_state_ = reply;
  if (show_in_window && services_.window) services_.window->ShowReply(reply);
  return reply;
}

void ClientSession::MaybeOpenPanel(uint32_t previous_page, const PipeResponse& current) {
  if (commit_pending_) return;
  if (current.page_number <= previous_page || current.menu_count <= 1) return;
  KaviCandidateList list;
  std::memset(&list, 0, sizeof list);
  if (!kavi_get_all_candidates(&list, kMaxPanelCandidates)) return;
  panel_.rows.clear();
  for (int32_t i = 0; i < list.count && i < kMaxPanelCandidates && list.candidates; ++i) {
    const KaviCandidate& c = list.candidates[i];
    panel_.rows.push_back({c.text ? c.text : "", c.comment ? c.comment : ""});
  }
  kavi_free_all_candidates(&list);
  if (panel_.rows.empty()) return;
  panel_.active = true;
  panel_.rows_per_page = std::clamp<int>(static_cast<int>(current.page_size), 1, 10);
  panel_.row_major = shared_.settings.Get().horizontal;
  int highlighted = static_cast<int>(current.page_number * current.page_size + current.highlighted);
  if (!last_entries_.empty() && current.highlighted < last_entries_.size() &&
      !last_entries_[current.highlighted].cloud)
    highlighted = last_entries_[current.highlighted].engine_index;
  panel_.highlighted = std::clamp(highlighted, 0, static_cast<int>(panel_.rows.size()) - 1);
  // Panel selection counts from the start of the engine's list.
  last_page_start_ = static_cast<int32_t>(current.page_number * current.page_size);
  if (services_.window)
    services_.window->ShowExpandedPanel(panel_.rows, panel_.highlighted, panel_.rows_per_page,
                                        panel_.row_major);
}

PipeResponse ClientSession::ResendLastState(const PipeRequest& r) {
  PipeResponse reply = last_state_;
  std::memcpy(&reply, &r, 44);
  reply.kind = static_cast<uint16_t>(ReplyKind::State);
  reply.size = kResponseSize;
  reply.result = 1;
  reply.commit_pending = commit_pending_ ? 1 : 0;
  return reply;
}

// ---- Small helpers ----------------------------------------------------------------------------

void ClientSession::ClearPanel() {
  if (!panel_.active) return;
  panel_ = ExpandedPanel{};
  if (services_.window) services_.window->ClearExpandedPanel();
}

void ClientSession::ClearPlugin() {
  plugin_.session().Reset();
}

void ClientSession::HideWindow() {
  if (services_.window) services_.window->ClearContent();
}

void ClientSession::MarkCommitPending(uint64_t context_id) {
  commit_pending_ = true;
  pending_context_ = context_id;
}

void ClientSession::PlayKeySound(uint32_t keysym) {
  if (services_.key_sounds) services_.key_sounds->PlayKey(keysym);
}

void ClientSession::TellToolbarFocus(bool has_focus) {
  if (services_.toolbar) services_.toolbar->SetClientFocus(has_focus);
}

void ClientSession::ForgetCloudContext() {
  if (services_.cloud) services_.cloud->ClearContext();
}

void ClientSession::End() {
  cancellation_.Cancel();
  EndComposition();
  plugin_.WaitForJobs();
}

void ClientSession::EndComposition() {
  FocusOwner& owner = shared_.focus_owner;
  if (!owner.IsSession(client_pid_, nonce_)) return;
  std::lock_guard<std::mutex> engine(EngineLock());
  if (!owner.IsSession(client_pid_, nonce_)) return;
  kavi_clear_composition();
  commit_pending_ = false;
  shared_.notice.Clear();
  HideWindow();
  owner.Clear();
  TellToolbarFocus(false);
  ForgetCloudContext();
}

// ---- Plug-in mode -----------------------------------------------------------------------------

std::optional<PipeResponse> ClientSession::PluginKeyStep(const PipeRequest& r) {
  const bool was_open = plugin_.active();
  const bool release = Released(r.modifiers);
  PluginSessionResult result;
  bool taken = false;
  if (was_open) {
    // A release only re-shows the page.
    taken = plugin_.session().HandleKey(r.key_code, /*refresh_only=*/release,
                                        /*enter_selects=*/false, &result);
  } else if (!release && !Chorded(r.modifiers) && EngineInput().empty()) {
    taken = plugin_.session().Enter(
        r.key_code, PluginSession::VTriggerEnabled(shared_.settings.Get().schema), &result);
  }
  if (!taken) return std::nullopt;
  if (!was_open) kavi_clear_composition();
  return FinishState(PluginReply(r, result));
}

PipeResponse ClientSession::PluginReply(const PipeRequest& r, const PluginSessionResult& result) {
  plugin_.StartJobFor(result);
  if (!result.active) {
    PipeResponse reply = BuildState(r, true);
    if (result.commit && !result.commit_text.empty()) {
      reply.has_commit = 1;
      CopyTextField(reply.commit_text, result.commit_text);
    }
    return reply;
  }
  PipeResponse reply = MakeSimpleReply(r, ReplyKind::State, true);
  reply.ascii_mode = AsciiMode() ? 1 : 0;
  reply.tail_flag = shared_.settings.Get().inline_preedit ? 1 : 0;
  PluginMode::FillReply(result, &reply);
  last_entries_.clear();
  last_page_start_ = 0;
  return reply;
}

PluginContext ClientSession::MakePluginContext() const {
  PluginContext context;
  context.uuid = MakeUuidText();
  context.prefer_traditional = !shared_.settings.Get().simplified_output();
  // Queries run while the session holds the engine lock (every plug-in step is a request of
  // DispatchGeneral), so the converter may call the engine.
  if (!context.prefer_traditional) context.to_simplified = SimplifiedByEngine;
  if (services_.companion != nullptr) {
    const CompanionStatus status = services_.companion->Status();
    context.gk_paired = status.state == CompanionStatus::State::kPaired;
    context.gk_list_ready = context.gk_paired && status.list_ready;
    if (context.gk_list_ready) context.two_factor_entries = services_.companion->TwoFactorEntries();
  }
  return context;
}

PluginAsyncResult ClientSession::RunPluginAction(uint32_t action_kind,
                                                 const std::string& payload) const {
  PluginActionServices actions;
  actions.read_clipboard = services_.read_clipboard;
  if (services_.translation != nullptr) {
    actions.translate = [this](const std::string& text, const std::string& target,
                               std::string* translation, std::string* error) {
      return services_.translation->Translate(text, target, translation, error, &cancellation_);
    };
  }
  if (CompanionPort* companion = services_.companion) {
    actions.fetch_two_factor = [companion](std::string* error) {
      return companion->FetchTwoFactor(error);
    };
    // The page's request waits as long as the companion client lets it: it is polled for.
    actions.request_code = [this, companion](const std::string& entry_id, std::string* code,
                                             std::string* error) {
      return companion->RequestCode(entry_id, code, error, &cancellation_,
                                    std::numeric_limits<uint32_t>::max());
    };
  }
  PluginAsyncResult result = kavi::win::RunPluginAction(action_kind, payload, actions);
  if (result.status == 0 && result.error_text.empty()) result.error_text = kActionFailed;
  return result;
}

std::optional<PipeResponse> ClientSession::DeliverPluginJob(const PipeRequest& r) {
  std::optional<PluginMode::FinishedJob> done = plugin_.TakeFinishedJob();
  if (!done) return std::nullopt;
  const bool failed = !done->result.error_text.empty() || done->result.status == 0;
  PipeResponse reply = MakeSimpleReply(r, ReplyKind::State, true);
  if (done->action_kind == static_cast<uint32_t>(PluginItemKind::LoadTwoFactor)) {
    if (!plugin_.active()) return std::nullopt;  // the page was closed meanwhile
    PluginSessionResult page;
    plugin_.session().Refresh(&page);
    reply = PluginReply(r, page);
    if (failed) {
      reply.candidate_count = 1;
      CopyTextField(reply.candidates[0].text, kTwoFactorRefreshFailed);
      CopyTextField(reply.candidates[0].comment, done->result.error_text);
    }
  } else if (failed) {
    reply.candidate_count = 1;
    CopyTextField(reply.candidates[0].text, kActionFailed);
    CopyTextField(reply.candidates[0].comment, done->result.error_text);
  } else {
    reply.has_commit = 1;
    CopyTextField(reply.commit_text, done->result.result_text);
    MarkCommitPending(r.context_id);
    reply.commit_pending = 1;
  }
  reply.status_code = kNoticeStatus;
  if (services_.window) services_.window->ShowReply(reply);
  return reply;
}

// ---- The connection ---------------------------------------------------------------------------

void ServeClient(UniqueFd pipe, const std::string& user_sid, const SessionServices& services,
                 ServerShared& shared) {
  const int fd = pipe.get();
  struct Closer {
    ServerShared& shared;
    int fd;
    ~Closer() {
      ShutdownSocket(fd);
      shared.pipes.Remove(fd);
    }
  } closer{shared, fd};

  // Admission: the same user. The desktop is in the socket's path (server_endpoint.h), so a
  // client of another desktop never reaches this server; the audit session id is not compared,
  // since the processes of one desktop do not share it. (Integrity levels have no counterpart.)
  PeerCredentials peer;
  if (!ReadPeerCredentials(fd, &peer)) return;
  if (std::to_string(peer.uid) != user_sid) return;
  // A non-dumpable client's executable cannot be read: it is taken to run on this machine's own
  // architecture (a client of another one then fails its handshake, as it would anyway).
  uint16_t architecture = ProcessArchitecture(peer.pid);
  if (architecture == kArchUnknown && !ProcessExecutable(peer.pid))
    architecture = ProcessArchitecture(CurrentProcessId());
  const uint64_t nonce = static_cast<uint64_t>(peer.pid) ^ PerformanceCounter();

  ClientSession session(services, shared, peer.pid, architecture, nonce);
  for (bool first = true;; first = false) {
    PipeRequest request;
    std::memset(&request, 0, sizeof request);
    const ssize_t n = first ? ReceivePacketWithin(fd, &request, sizeof request, kHandshakeTimeoutMs)
                            : ReceivePacket(fd, &request, sizeof request);
    if (n <= 0) break;
    ClientSession::Outcome outcome = session.Handle(request, static_cast<size_t>(n));
    if (outcome.verdict == ClientSession::Verdict::EndSession) {
      if (outcome.reply.magic == kPipeMagic) SendPacket(fd, &outcome.reply, sizeof outcome.reply);
      break;
    }
    if (!SendPacket(fd, &outcome.reply, sizeof outcome.reply)) break;
    if (outcome.shutdown_after_reply && services.shutdown) services.shutdown();
    // The client left a field: typing pauses here, and the reply has gone already.
    if (request.kind == static_cast<uint16_t>(RequestKind::FocusOut)) ReleaseHeapWhenDue(shared);
  }
  session.End();
  ReleaseHeapWhenDue(shared);
}

}  // namespace kavi::win
