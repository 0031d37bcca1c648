// SPDX-License-Identifier: Apache-2.0
// The recogniser helper's line protocol, both ways UTF-8 lines ending in a line feed:
//   start-up   helper: "READY" | "ERR\t<message>"
//   request    server: "<wav path>\t<language>"
//   reply      helper: "OK\t<text>" | "ERR\t<message>"
// The helper program speaks the other side (tools/voice-ggml).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kReadyLine[] = "READY";
inline constexpr char kOkPrefix[] = "OK\t";
inline constexpr char kErrorPrefix[] = "ERR\t";
// The engine words of the helper's command line.
inline constexpr char kSenseVoiceEngineWord[] = "sensevoice";
inline constexpr char kQwenEngineWord[] = "qwen";
// What the controller always asks for: the helper detects the language.
inline constexpr char kAutoLanguage[] = "auto";

inline constexpr size_t kMaxRequestLineBytes = 65536;  // with its line feed
inline constexpr size_t kMaxReplyBufferBytes = 4194304;
inline constexpr size_t kPipePieceBytes = 65536;  // one read or write on a pipe

inline constexpr uint64_t kReadyTimeoutMs = 30000;
inline constexpr uint64_t kReplyMarginMs = 30000;
inline constexpr uint64_t kLongAudioMs = 150000;
inline constexpr uint64_t kLongReplyTimeoutMs = 180000;

bool IsHelperEngineWord(std::string_view engine);

// The bytes read from the helper and not yet taken as lines.
class ReplyBuffer {
 public:
  // False when the buffer now holds more than 4 MiB.
  bool Append(std::string_view bytes);
  // The first complete line without its line feed (and one carriage return before it); the
  // bytes after it stay for the next line.
  std::optional<std::string> TakeLine();
  void Clear() { bytes_.clear(); }
  size_t size() const { return bytes_.size(); }

 private:
  std::string bytes_;
};

enum class LineKind { kReady, kOk, kError, kOther };

// What a line from the helper is; for kOk and kError `rest` receives the text after the
// prefix. An "OK" line counts only with at least one byte of valid UTF-8 text.
LineKind ClassifyHelperLine(std::string_view line, std::string* rest);

// The request line with its line feed; nullopt when the path is empty or either field holds a
// carriage return, line feed or tab, or the line is longer than 65536 bytes.
std::optional<std::string> RequestLine(std::string_view wav_path, std::string_view language);

// How long to wait for the reply to a recording of `wav_bytes` (16 kHz 16-bit mono: 32000 bytes
// a second): its length plus 30 seconds, but 180 seconds when it is longer than 150; 30 seconds
// when the size is unknown.
uint64_t ReplyTimeoutMs(std::optional<uint64_t> wav_bytes);

}  // namespace kavi::win
