// SPDX-License-Identifier: Apache-2.0
// One client connection from its first request to its disconnect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/http_cancellation.h"
#include "platform/ipc.h"
#include "protocol/pipe_records.h"
#include "server/session/candidate_list.h"
#include "server/session/foreground_rule.h"
#include "server/session/plugin_mode.h"
#include "server/session/session_services.h"

namespace kavi::win {

// A connection must send its handshake this soon after it was accepted, or it is closed: silent
// connections would otherwise hold session slots for good.
inline constexpr int kHandshakeTimeoutMs = 1000;

// Serves one connected client on the calling thread until the session ends; always closes the
// connection and removes it from the shared pipe set.
void ServeClient(UniqueFd pipe, const std::string& user_sid, const SessionServices& services,
                 ServerShared& shared);

// The per-connection state and the handling of each request kind. ServeClient drives it; it
// is separate so that the rules can be exercised request by request.
class ClientSession {
 public:
  ClientSession(const SessionServices& services, ServerShared& shared, uint32_t client_pid,
                uint16_t client_architecture, uint64_t nonce);
  ~ClientSession();
  ClientSession(const ClientSession&) = delete;
  ClientSession& operator=(const ClientSession&) = delete;

  enum class Verdict { Reply, EndSession };
  struct Outcome {
    Verdict verdict = Verdict::EndSession;
    PipeResponse reply{};
    bool shutdown_after_reply = false;
  };

  // Validates one received packet of `size` bytes and produces the reply (or the end).
  Outcome Handle(const PipeRequest& request, size_t size);

  // Session end: releases the composition when this session owns it.
  void End();

 private:
  struct ExpandedPanel {
    bool active = false;
    std::vector<PanelItem> rows;
    int highlighted = 0;
    int rows_per_page = 10;
    bool row_major = true;
  };

  Outcome Dispatch(const PipeRequest& request);
  Outcome DispatchGeneral(const PipeRequest& request);  // under the engine lock
  Outcome ReplyWith(PipeResponse reply, bool shutdown_after = false);

  bool Foreground() const;
  bool OwnsActiveWindow() const;
  bool IsOwner(const PipeRequest& request) const;
  // Whether this session holds the composition (any of the client's threads, any context).
  bool OwnsComposition() const;

  // Handlers of the general kinds (engine lock held). Each returns the reply.
  PipeResponse OnFocusIn(const PipeRequest& request);
  PipeResponse OnFocusOut(const PipeRequest& request);
  PipeResponse OnKeyEvent(const PipeRequest& request);
  PipeResponse OnCancel(const PipeRequest& request);
  PipeResponse OnSelectPageHighlight(const PipeRequest& request);
  PipeResponse OnAck(const PipeRequest& request);
  PipeResponse OnPollAsync(const PipeRequest& request);
  PipeResponse OnCommitCandidate(const PipeRequest& request);
  PipeResponse OnHoverCandidate(const PipeRequest& request);
  PipeResponse OnToggleAscii(const PipeRequest& request);

  // Key event steps (engine lock held); nullopt means "go on with the next step".
  std::optional<PipeResponse> ShiftToggleStep(const PipeRequest& request);
  std::optional<PipeResponse> PanelKeyStep(const PipeRequest& request);
  std::optional<PipeResponse> PluginKeyStep(const PipeRequest& request);
  std::optional<PipeResponse> MergedListStep(const PipeRequest& request);

  // The reply for a plug-in session result: its page, or the engine's state once plug-in mode
  // has ended (with the plug-in's commit). Starts the result's action job.
  PipeResponse PluginReply(const PipeRequest& request, const PluginSessionResult& result);
  PluginContext MakePluginContext() const;
  PluginAsyncResult RunPluginAction(uint32_t action_kind, const std::string& payload) const;
  std::optional<PipeResponse> DeliverPluginJob(const PipeRequest& request);

  // A cloud entry that the server commits itself, with the input code typed for it.
  struct CloudCommit {
    std::string text;
    std::string input_code;
  };
  // Selects (or highlights) slot `slot` of the last State reply's list; a cloud entry's text
  // and input go to `cloud_commit`.
  bool SelectListSlot(int slot, CloudCommit* cloud_commit);
  bool HighlightListSlot(int slot);

  // The State snapshot of the engine (engine lock held). `commit_override` replaces the
  // engine's commit (a cloud entry committed by the server itself).
  PipeResponse BuildState(const PipeRequest& request, bool result,
                          const CloudCommit* commit_override = nullptr);
  // Finishes a State reply: field 48, last-State memory, the candidate window.
  PipeResponse FinishState(PipeResponse reply, bool show_in_window = true);
  // Opens the expanded panel when a consumed key moved the engine to a later page (the previous
  // State reply had candidates on previous_page).
  void MaybeOpenPanel(uint32_t previous_page, const PipeResponse& current);
  PipeResponse ResendLastState(const PipeRequest& request);

  void EndComposition();
  void ClearPanel();
  void ClearPlugin();
  void HideWindow();
  void MarkCommitPending(uint64_t context_id);
  void PlayKeySound(uint32_t keysym);
  void TellToolbarFocus(bool has_focus);
  void ForgetCloudContext();

  const SessionServices& services_;
  ServerShared& shared_;
  const uint32_t client_pid_;
  const uint16_t client_architecture_;
  const uint64_t nonce_;

  bool handshake_done_ = false;
  uint64_t last_sequence_ = 0;
  bool commit_pending_ = false;
  uint64_t pending_context_ = 0;
  bool shift_armed_ = false;
  ForegroundRule foreground_;
  ExpandedPanel panel_;
  PluginMode plugin_;
  PipeResponse last_state_{};
  // The entries behind the last State reply's candidate slots, and where the engine page began.
  std::vector<CandidateEntry> last_entries_;
  int32_t last_page_start_ = 0;
  // Cancelled when the session ends, so that its plug-in jobs' requests stop.
  mutable HttpCancellation cancellation_;
};

}  // namespace kavi::win
