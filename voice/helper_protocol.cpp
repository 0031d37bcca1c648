// SPDX-License-Identifier: Apache-2.0
#include "voice/helper_protocol.h"

#include "text/utf8.h"

namespace kavi::win {
namespace {

bool HasLineBreakOrTab(std::string_view text) {
  return text.find_first_of("\r\n\t") != std::string_view::npos;
}

}  // namespace

bool IsHelperEngineWord(std::string_view engine) {
  return engine == kSenseVoiceEngineWord || engine == kQwenEngineWord;
}

bool ReplyBuffer::Append(std::string_view bytes) {
  bytes_.append(bytes);
  return bytes_.size() <= kMaxReplyBufferBytes;
}

std::optional<std::string> ReplyBuffer::TakeLine() {
  const size_t end = bytes_.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = bytes_.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  bytes_.erase(0, end + 1);
  return line;
}

LineKind ClassifyHelperLine(std::string_view line, std::string* rest) {
  if (line == kReadyLine) return LineKind::kReady;
  if (line.starts_with(kOkPrefix)) {
    const std::string_view text = line.substr(std::string_view(kOkPrefix).size());
    if (text.empty() || !IsValidUtf8(text)) return LineKind::kOther;
    rest->assign(text);
    return LineKind::kOk;
  }
  if (line.starts_with(kErrorPrefix)) {
    rest->assign(line.substr(std::string_view(kErrorPrefix).size()));
    return LineKind::kError;
  }
  return LineKind::kOther;
}

std::optional<std::string> RequestLine(std::string_view wav_path, std::string_view language) {
  if (wav_path.empty() || HasLineBreakOrTab(wav_path) || HasLineBreakOrTab(language))
    return std::nullopt;
  std::string line;
  line.reserve(wav_path.size() + language.size() + 2);
  line.append(wav_path).append("\t").append(language).append("\n");
  if (line.size() > kMaxRequestLineBytes) return std::nullopt;
  return line;
}

uint64_t ReplyTimeoutMs(std::optional<uint64_t> wav_bytes) {
  const uint64_t audio_ms = wav_bytes ? (*wav_bytes / 32000) * 1000 : 0;
  return audio_ms > kLongAudioMs ? kLongReplyTimeoutMs : audio_ms + kReplyMarginMs;
}

}  // namespace kavi::win
