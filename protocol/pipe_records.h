// SPDX-License-Identifier: Apache-2.0
// The fixed-size records of the client protocol: one 172-byte request answered by one
// 11,355-byte reply. Little-endian, packed, text fields NUL-terminated UTF-8.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/keysyms.h"

namespace kavi::win {

inline constexpr uint32_t kPipeMagic = 0x49564B41;  // "AKVI" read as a little-endian u32
inline constexpr uint16_t kProtocolVersion = 13;
inline constexpr uint32_t kRequestSize = 172;
inline constexpr uint32_t kResponseSize = 11355;
inline constexpr size_t kMaxCandidateSlots = 16;
inline constexpr size_t kRequestTextSize = 96;
inline constexpr size_t kPreeditSize = 512;
inline constexpr size_t kCommitTextSize = 512;
inline constexpr size_t kCandidateTextSize = 512;
inline constexpr size_t kCandidateCommentSize = 128;
inline constexpr std::string_view kVersionMismatchText = "protocol-version-mismatch";

enum class RequestKind : uint16_t {
  Handshake = 1,
  FocusIn = 2,
  FocusOut = 3,
  KeyEvent = 4,
  CancelComposition = 5,
  SelectCandidate = 6,
  ChangePage = 7,
  AckCommit = 8,
  AckCommitAndClear = 9,
  HighlightCandidate = 10,
  SetCaretRect = 11,
  PollAsync = 12,
  SyncAndRedeploy = 13,
  Redeploy = 14,
  MaintenanceStatus = 15,
  InstallPack = 16,
  RemovePack = 17,
  PackJobStatus = 18,
  PlayKeySound = 19,
  CommitCandidate = 20,
  HoverCandidate = 21,
  VoiceToggle = 22,
  VoiceStart = 23,
  VoiceStop = 24,
  VoiceCancel = 25,
  VoiceStatus = 26,
  DownloadVoiceModel = 27,
  RemoveVoiceModel = 28,
  PollVoiceResult = 29,
  VoiceToggleAlt = 30,
  CancelVoiceModelJob = 31,
  CancelVoiceModelJobAlt = 32,
  CompanionRequest0 = 33,
  CompanionRequest1 = 34,
  CompanionRequest2 = 35,
  CompanionRequest3 = 36,
  CompanionRequest4 = 37,
  QueryServerPid = 38,
  ListCatalog = 39,
  ListCatalogAlt = 40,
  PreviewTheme = 41,
  ToggleAsciiMode = 42,
  Shutdown = 43,
  CancelPackJob = 44,
  CancelPackJobAlt = 45,
};

enum class ReplyKind : uint16_t {
  State = 100,
  Ok = 101,
  Refused = 102,
  Busy = 103,
};

struct ScreenRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

#pragma pack(push, 1)
struct PipeRequest {
  uint32_t magic;
  uint16_t version;
  uint16_t kind;
  uint32_t size;
  uint64_t sequence;
  uint64_t context_id;
  uint32_t process_id;
  uint32_t thread_id;
  uint64_t session_nonce;
  uint16_t architecture;
  uint16_t reserved;
  uint32_t key_code;
  uint32_t modifiers;
  uint32_t argument;
  ScreenRect rect;
  char text[kRequestTextSize];
};

struct CandidateSlot {
  char text[kCandidateTextSize];
  char comment[kCandidateCommentSize];
};

struct PipeResponse {
  uint32_t magic;
  uint16_t version;
  uint16_t kind;
  uint32_t size;
  uint64_t sequence;
  uint64_t context_id;
  uint32_t process_id;
  uint32_t thread_id;
  uint64_t session_nonce;
  uint8_t result;
  uint8_t has_commit;
  uint8_t has_preedit;
  uint8_t last_page;
  uint8_t commit_pending;
  uint8_t ascii_mode;
  uint32_t cursor;
  uint32_t selection_start;
  uint32_t selection_end;
  uint32_t page_size;
  uint32_t page_number;
  uint32_t menu_count;
  uint32_t highlighted;
  uint32_t candidate_count;
  uint32_t status_code;
  uint32_t value;
  char preedit[kPreeditSize];
  char commit_text[kCommitTextSize];
  CandidateSlot candidates[kMaxCandidateSlots];
  uint8_t tail_flag;
};
#pragma pack(pop)

static_assert(sizeof(PipeRequest) == kRequestSize);
static_assert(sizeof(PipeResponse) == kResponseSize);
static_assert(offsetof(PipeRequest, key_code) == 48);
static_assert(offsetof(PipeRequest, rect) == 60);
static_assert(offsetof(PipeRequest, text) == 76);
static_assert(offsetof(PipeResponse, result) == 44);
static_assert(offsetof(PipeResponse, cursor) == 50);
static_assert(offsetof(PipeResponse, status_code) == 82);
static_assert(offsetof(PipeResponse, preedit) == 90);
static_assert(offsetof(PipeResponse, commit_text) == 602);
static_assert(offsetof(PipeResponse, candidates) == 1114);
static_assert(offsetof(PipeResponse, tail_flag) == 11354);
static_assert(std::endian::native == std::endian::little,
              "the records are little-endian in memory");

// Copies text into a fixed field of `size` bytes: at most size - 1 bytes, cut back so that no
// UTF-8 character is split, then NUL. The rest of the field is zeroed.
void CopyTextField(char* field, size_t size, std::string_view text);

template <size_t N>
void CopyTextField(char (&field)[N], std::string_view text) {
  CopyTextField(field, N, text);
}

// As CopyTextField for a field that is known to be all zero (a freshly made reply): writes only
// the text, saving the clearing of the rest.
void WriteTextField(char* field, size_t size, std::string_view text);

template <size_t N>
void WriteTextField(char (&field)[N], std::string_view text) {
  WriteTextField(field, N, text);
}

// Reads a NUL-terminated field (no terminator inside the field: the whole field).
std::string_view TextFieldView(const char* field, size_t size);

template <size_t N>
std::string_view TextFieldView(const char (&field)[N]) {
  return TextFieldView(field, N);
}

bool RequestHeaderValid(const PipeRequest& request);

// The simple reply: zeroed, bytes 0..43 from the request, kind, size, result, tail flag 1.
PipeResponse MakeSimpleReply(const PipeRequest& request, ReplyKind kind, bool result);

// A simple reply with a message in the commit-text field (cut to 511 bytes).
PipeResponse MakeMessageReply(const PipeRequest& request, ReplyKind kind, bool result,
                              std::string_view message);

// Zeroed, magic, version, kind Refused, size, the request's sequence and context id only,
// "protocol-version-mismatch", tail flag 1.
PipeResponse MakeVersionMismatchReply(const PipeRequest& request);

PipeRequest MakeRequest(RequestKind kind);

}  // namespace kavi::win
