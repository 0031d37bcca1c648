// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as a stream of request packets into one client session (fake engine).
// Each packet is: one control byte, then the packet. Control: low 7 bits 0 mean a 172-byte
// packet, otherwise that many bytes; the high bit patches the identity fields (process, thread,
// nonce, architecture) so that the fuzzer also reaches the dispatch of established sessions.
// A reply may only follow a well-formed request, or be the version-mismatch reply.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/identity.h"
#include "server/session/client_session.h"
#include "tests/fake_engine/fake_engine.h"

namespace {

constexpr uint64_t kNonce = 0x5eed5eed5eedULL;
constexpr uint16_t kArch = 2;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavi::win;
  testing::Fake().Reset();
  testing::Fake().candidates = {{"一", "yi"}, {"二", ""}, {"三", ""}, {"四", ""},
                                {"五", ""},   {"六", ""}, {"七", ""}};
  ServerShared shared;
  SessionServices services;
  ClientSession session(services, shared, CurrentProcessId(), kArch, kNonce);
  size_t at = 0;
  while (at < size) {
    uint8_t control = data[at++];
    size_t len = (control & 0x7f) == 0 ? kRequestSize : (control & 0x7f);
    if (len > size - at) len = size - at;
    PipeRequest request;
    std::memset(&request, 0, sizeof request);
    std::memcpy(&request, data + at, std::min(len, sizeof request));
    at += len;
    if ((control & 0x80) && len == kRequestSize) {
      request.process_id = CurrentProcessId();
      request.thread_id = CurrentThreadId();
      request.session_nonce = kNonce;
      request.architecture = kArch;
    }
    ClientSession::Outcome out = session.Handle(request, len);
    const bool well_formed = len == kRequestSize && RequestHeaderValid(request);
    if (out.verdict == ClientSession::Verdict::Reply) {
      if (!well_formed) __builtin_trap();
      if (out.reply.magic != kPipeMagic || out.reply.size != kResponseSize) __builtin_trap();
    } else {
      if (out.reply.magic == kPipeMagic &&
          std::strcmp(out.reply.commit_text, "protocol-version-mismatch") != 0)
        __builtin_trap();
      break;
    }
  }
  session.End();
  return 0;
}
