// SPDX-License-Identifier: Apache-2.0
#include "server/session/shared_state.h"

#include <algorithm>

#include "protocol/pipe_records.h"
#include "text/utf8.h"

namespace kavi::win {

void FocusOwner::Set(uint32_t pid, uint32_t tid, uint64_t session_nonce, uint64_t context) {
  process_id = pid;
  thread_id = tid;
  nonce = session_nonce;
  context_id = context;
}

void DeferredNotice::Post(uint32_t code, uint32_t value, uint64_t context_id, uint64_t nonce) {
  std::lock_guard<std::mutex> lock(mutex_);
  present_ = true;
  notice_ = {code, value};
  context_id_ = context_id;
  nonce_ = nonce;
}

std::optional<DeferredNotice::Notice> DeferredNotice::TakeFor(uint64_t context_id, uint64_t nonce) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!present_ || context_id_ != context_id || nonce_ != nonce) return std::nullopt;
  present_ = false;
  return notice_;
}

void DeferredNotice::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  present_ = false;
}

void VoiceTextSlots::Fill(int slot, bool commit, std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot& s = slots_[slot == kResultSlot ? 1 : 0];
  s.present = true;
  s.commit = commit;
  s.text = std::move(text);
}

bool VoiceTextSlots::Has(int slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  return slots_[slot == kResultSlot ? 1 : 0].present;
}

std::optional<VoiceTextSlots::Piece> VoiceTextSlots::Take(int slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot& s = slots_[slot == kResultSlot ? 1 : 0];
  if (!s.present) return std::nullopt;
  Piece piece;
  piece.commit = s.commit;
  size_t n = Utf8CutLength(s.text, kPieceBytes);
  if (n == 0 && !s.text.empty()) n = std::min(s.text.size(), kPieceBytes);  // invalid lead bytes
  piece.text = s.text.substr(0, n);
  s.text.erase(0, n);
  piece.more = !s.text.empty();
  if (!piece.more) s = Slot{};
  return piece;
}

bool HeapReleasePacer::Due(uint64_t now_ms) {
  uint64_t last = last_ms_.load();
  if (last != 0 && now_ms - last < kMinIntervalMs) return false;
  // Of several sessions at the same moment, one releases. (0 stands for never.)
  return last_ms_.compare_exchange_strong(last, std::max<uint64_t>(now_ms, 1));
}

}  // namespace kavi::win
