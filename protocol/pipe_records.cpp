// SPDX-License-Identifier: Apache-2.0
#include "protocol/pipe_records.h"

#include <cstring>

#include "text/utf8.h"

namespace kavi::win {

void CopyTextField(char* field, size_t size, std::string_view text) {
  if (size == 0) return;
  size_t n = Utf8CutLength(text, size - 1);
  if (n > 0) std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, size - n);
}

void WriteTextField(char* field, size_t size, std::string_view text) {
  if (size == 0) return;
  const size_t n = Utf8CutLength(text, size - 1);
  if (n > 0) std::memcpy(field, text.data(), n);
}

std::string_view TextFieldView(const char* field, size_t size) {
  const void* nul = std::memchr(field, 0, size);
  return std::string_view(field, nul ? static_cast<const char*>(nul) - field : size);
}

bool RequestHeaderValid(const PipeRequest& request) {
  return request.magic == kPipeMagic && request.version == kProtocolVersion &&
         request.size == kRequestSize;
}

PipeResponse MakeSimpleReply(const PipeRequest& request, ReplyKind kind, bool result) {
  PipeResponse reply;
  std::memset(&reply, 0, sizeof reply);
  std::memcpy(&reply, &request, 44);
  reply.kind = static_cast<uint16_t>(kind);
  reply.size = kResponseSize;
  reply.result = result ? 1 : 0;
  reply.tail_flag = 1;
  return reply;
}

PipeResponse MakeMessageReply(const PipeRequest& request, ReplyKind kind, bool result,
                              std::string_view message) {
  PipeResponse reply = MakeSimpleReply(request, kind, result);
  CopyTextField(reply.commit_text, message);
  return reply;
}

PipeResponse MakeVersionMismatchReply(const PipeRequest& request) {
  PipeResponse reply;
  std::memset(&reply, 0, sizeof reply);
  reply.magic = kPipeMagic;
  reply.version = kProtocolVersion;
  reply.kind = static_cast<uint16_t>(ReplyKind::Refused);
  reply.size = kResponseSize;
  reply.sequence = request.sequence;
  reply.context_id = request.context_id;
  CopyTextField(reply.commit_text, kVersionMismatchText);
  reply.tail_flag = 1;
  return reply;
}

PipeRequest MakeRequest(RequestKind kind) {
  PipeRequest request;
  std::memset(&request, 0, sizeof request);
  request.magic = kPipeMagic;
  request.version = kProtocolVersion;
  request.kind = static_cast<uint16_t>(kind);
  request.size = kRequestSize;
  return request;
}

}  // namespace kavi::win
