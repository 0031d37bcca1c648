// SPDX-License-Identifier: Apache-2.0
// State that every client session shares: who owns the composition, the deferred notice,
// the voice text slots, the job flags and the pace of heap releases.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace kavi::win {

// The client that owns the composition; all zero when nobody owns it. Each field is atomic on
// its own; a session compares all four to know it still owns the composition.
struct FocusOwner {
  std::atomic<uint32_t> process_id{0};
  std::atomic<uint32_t> thread_id{0};
  std::atomic<uint64_t> nonce{0};
  std::atomic<uint64_t> context_id{0};

  bool Is(uint32_t pid, uint32_t tid, uint64_t session_nonce, uint64_t context) const {
    return process_id == pid && thread_id == tid && nonce == session_nonce && context_id == context;
  }
  bool IsSession(uint32_t pid, uint64_t session_nonce) const {
    return process_id == pid && nonce == session_nonce && pid != 0;
  }
  bool Empty() const { return process_id == 0 && nonce == 0; }
  void Set(uint32_t pid, uint32_t tid, uint64_t session_nonce, uint64_t context);
  void Clear() { Set(0, 0, 0, 0); }
};

// A status code and value addressed to one client (context id and nonce), delivered on its next
// PollAsync. A newer notice replaces an older one.
class DeferredNotice {
 public:
  struct Notice {
    uint32_t code = 0;
    uint32_t value = 0;
  };

  void Post(uint32_t code, uint32_t value, uint64_t context_id, uint64_t nonce);
  // Takes the notice when it is addressed to (context_id, nonce).
  std::optional<Notice> TakeFor(uint64_t context_id, uint64_t nonce);
  void Clear();

 private:
  std::mutex mutex_;
  bool present_ = false;
  Notice notice_;
  uint64_t context_id_ = 0;
  uint64_t nonce_ = 0;
};

// Recognised speech waiting for a client: slot 0 for the focus owner (delivered by PollAsync),
// slot 1 for PollVoiceResult. Text leaves a slot in pieces of at most 511 bytes.
class VoiceTextSlots {
 public:
  static constexpr int kOwnerSlot = 0;
  static constexpr int kResultSlot = 1;
  static constexpr size_t kPieceBytes = 511;

  struct Piece {
    bool commit = false;
    std::string text;
    bool more = false;  // text remains queued after this piece
  };

  void Fill(int slot, bool commit, std::string text);
  std::optional<Piece> Take(int slot);
  bool Has(int slot);

 private:
  struct Slot {
    bool present = false;
    bool commit = false;
    std::string text;
  };
  std::mutex mutex_;
  Slot slots_[2];
};

enum class JobStatus : uint32_t { Idle = 0, Running = 1, Done = 2, Failed = 3 };
enum class PackJobStatus : uint32_t {
  Idle = 0,
  Running = 1,
  Done = 2,
  Failed = 3,
  Cancelled = 4,
  CancelledAlt = 5,
};

// Keeps key handling away from the engine while a maintenance or scheme-pack job restarts it.
struct JobFlags {
  std::atomic<bool> busy{false};
  std::atomic<uint32_t> maintenance_status{0};
  std::atomic<uint32_t> pack_status{0};
  std::atomic<bool> pack_cancel_requested{false};
  std::atomic<bool> pack_cancel_alt{false};
  std::atomic<bool> pack_running{false};

  bool TryTakeBusy() {
    bool expected = false;
    return busy.compare_exchange_strong(expected, true);
  }
};

// Paces the return of the allocator's free pages to the system. Every key builds and drops the
// engine's search structures, and the allocator keeps what a burst of typing left free (a 50-client
// soak held 9 MB of it after five minutes); a quiet moment (a client left a field, or went away)
// hands it back, at most once an interval, since a release walks the whole heap.
class HeapReleasePacer {
 public:
  static constexpr uint64_t kMinIntervalMs = 30000;
  // True when a release is due at `now_ms`; then not again within the interval.
  bool Due(uint64_t now_ms);

 private:
  std::atomic<uint64_t> last_ms_{0};
};

}  // namespace kavi::win
