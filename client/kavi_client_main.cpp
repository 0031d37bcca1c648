// SPDX-License-Identifier: Apache-2.0
// kavi-client: type Chinese in a terminal through the Kavi server, or send one-shot requests.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/kavi_client.h"
#include "frontend/input_context.h"
#include "platform/terminal.h"
#include "platform/terminal_window.h"

namespace kavi::win {
namespace {

// The companion's answer to a wait while the user has not decided yet.
constexpr char kPairingStillWaiting[] = "GK pairing is not complete yet";

constexpr uint64_t kContextId = 1;  // of the one-shot requests
constexpr int kConnectPatienceMs = 5000;
constexpr int kPollIntervalMs = 250;

const std::map<std::string, uint32_t>& NamedKeys() {
  static const std::map<std::string, uint32_t> names = {
      {"Return", keys::kReturn},     {"Escape", keys::kEscape}, {"BackSpace", keys::kBackSpace},
      {"Delete", keys::kDelete},     {"Left", keys::kLeft},     {"Up", keys::kUp},
      {"Right", keys::kRight},       {"Down", keys::kDown},     {"PageUp", keys::kPageUp},
      {"PageDown", keys::kPageDown}, {"Shift", keys::kShiftL},  {"space", keys::kSpace},
  };
  return names;
}

struct KeyPress {
  uint32_t keysym;
  uint32_t modifiers;
};

// "nihao{space}" -> keys; "{Shift}" is a press and release of Shift.
bool ParseKeys(const std::string& text, std::vector<KeyPress>* out, std::string* error) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '{') {
      size_t close = text.find('}', i);
      if (close == std::string::npos) {
        *error = "unterminated {key name}";
        return false;
      }
      std::string name = text.substr(i + 1, close - i - 1);
      auto it = NamedKeys().find(name);
      if (it == NamedKeys().end()) {
        *error = "unknown key name {" + name + "}";
        return false;
      }
      out->push_back({it->second, 0});
      if (it->second == keys::kShiftL) out->push_back({keys::kShiftL, keys::kReleaseMask});
      i = close;
    } else if (c >= 0x20 && c < 0x7f) {
      out->push_back({c, 0});
    } else {
      *error = "only printable ASCII and {key names} can be typed";
      return false;
    }
  }
  return true;
}

std::string Field(const char* f, size_t n) {
  return std::string(TextFieldView(f, n));
}
template <size_t N>
std::string Field(const char (&f)[N]) {
  return Field(f, N);
}

void PrintState(const ContextView& view, std::ostream& out) {
  out << "preedit: " << view.preedit << "\n";
  if (!view.candidates.empty()) {
    out << "candidates (page " << view.page_number + 1 << (view.last_page ? ", last" : "")
        << "):\n";
    for (size_t i = 0; i < view.candidates.size(); ++i) {
      out << (i == view.highlighted ? " > " : "   ") << (i + 1) % 10 << ". "
          << view.candidates[i].text;
      if (!view.candidates[i].comment.empty()) out << "  " << view.candidates[i].comment;
      out << "\n";
    }
  }
  if (view.ascii_mode) out << "mode: ascii\n";
}

void PrintReply(const PipeResponse& reply, std::ostream& out) {
  PrintState(ViewOfState(reply), out);
}

// The terminal's document: what was committed, plus the keys the server passed on.
class Document : public FrontendSink {
 public:
  void Commit(const std::string& text) override { text_ += text; }
  void Show(const ContextView&) override {}

  void PassedKey(uint32_t keysym) {
    if (keysym >= 0x20 && keysym < 0x7f) text_.push_back(static_cast<char>(keysym));
    if (keysym == keys::kReturn) text_ += "\n";
    if (keysym == keys::kBackSpace && !text_.empty()) {
      // Drop one UTF-8 character.
      size_t cut = text_.size() - 1;
      while (cut > 0 && (static_cast<unsigned char>(text_[cut]) & 0xC0) == 0x80) --cut;
      text_.erase(cut);
    }
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Connects, waiting out the back-off while a just-started server comes up.
bool ConnectPatiently(KaviClient& client, std::string* message) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectPatienceMs);
  for (;;) {
    if (client.Connect(message)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(client.BackoffRemainingMs() + 10));
  }
}

std::optional<PipeResponse> Require(std::optional<PipeResponse> reply) {
  if (!reply) std::cerr << "kavi-client: the server did not answer\n";
  return reply;
}

// The terminal's cursor cell (0-based row, column), asked of the terminal itself (a cursor
// position report); nullopt when standard input and output are no terminal or it does not say.
std::optional<std::pair<int, int>> TerminalCursor() {
  if (!::isatty(STDOUT_FILENO)) return std::nullopt;
  RawTerminal terminal;
  if (!terminal.active()) return std::nullopt;
  std::fputs("\033[6n", stdout);
  std::fflush(stdout);
  std::string answer;  // "ESC [ row ; column R"
  while (answer.size() < 16 && terminal.WaitForInput(100) == RawTerminal::InputWait::kReady) {
    std::optional<unsigned char> c = terminal.ReadByte();
    if (!c) break;
    answer.push_back(static_cast<char>(*c));
    if (*c == 'R') break;
  }
  int row = 0;
  int column = 0;
  if (std::sscanf(answer.c_str(), "\033[%d;%dR", &row, &column) != 2 || row < 1 || column < 1)
    return std::nullopt;
  return std::make_pair(row - 1, column - 1);
}

int TypeCommand(FrontendConnection& connection, const std::string& text, int hold_ms) {
  std::vector<KeyPress> presses;
  std::string error;
  if (!ParseKeys(text, &presses, &error)) {
    std::cerr << "kavi-client: " << error << "\n";
    return 2;
  }
  Document document;
  InputContext context(connection, document);
  // A server that has just started may still be loading its dictionaries: the first request
  // can outlast a transaction; try again as an application would on its next key.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectPatienceMs);
  while (!context.FocusIn()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      std::cerr << "kavi-client: the server did not take the focus\n";
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // The candidate window opens under the terminal's cursor, where the output will appear.
  const TerminalWindow window;
  if (std::optional<TerminalCellArea> cells = window.Cells()) {
    if (std::optional<std::pair<int, int>> cursor = TerminalCursor()) {
      ScreenRect caret;
      caret.left = cells->left + cursor->second * cells->cell_width;
      caret.top = cells->top + cursor->first * cells->cell_height;
      caret.right = caret.left + 1;
      caret.bottom = caret.top + cells->cell_height;
      context.SetCaret(caret, true);
    }
  }
  for (const KeyPress& press : presses) {
    if (!context.ProcessKey(press.keysym, press.modifiers) &&
        !(press.modifiers & keys::kReleaseMask))
      document.PassedKey(press.keysym);
  }
  // The window shows the composition while the client keeps it (it goes with the connection).
  if (hold_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
  PrintState(context.view(), std::cout);
  std::cout << "committed: " << document.text() << "\n";
  return 0;
}

// ---- Interactive mode -------------------------------------------------------------------------

// Reads one key from the terminal; nullopt on end of input.
std::optional<uint32_t> ReadKey(RawTerminal& terminal) {
  std::optional<unsigned char> c = terminal.ReadByte();
  if (!c) return std::nullopt;
  if (*c == 0x1b) {
    // A lone Escape is not followed by the rest of a sequence within 30 ms.
    if (terminal.WaitForInput(30) != RawTerminal::InputWait::kReady) return keys::kEscape;
    std::optional<unsigned char> introducer = terminal.ReadByte();
    if (!introducer) return keys::kEscape;
    if (*introducer != '[') {
      // Escape, then a key typed quickly after it (or delivered with it by a busy system).
      terminal.Unread(*introducer);
      return keys::kEscape;
    }
    std::optional<unsigned char> code = terminal.ReadByte();
    if (!code) return keys::kEscape;
    switch (*code) {
      case 'A':
        return keys::kUp;
      case 'B':
        return keys::kDown;
      case 'C':
        return keys::kRight;
      case 'D':
        return keys::kLeft;
      case '1': {
        // F5 to F8 are "ESC [ 1 n ~"; only F8 ("19~") means something here.
        const std::optional<unsigned char> digit = terminal.ReadByte();
        (void)terminal.ReadByte();  // the closing '~'
        return digit && *digit == '9' ? keys::kF8 : keys::kEscape;
      }
      case '3':
      case '5':
      case '6':
        (void)terminal.ReadByte();  // the closing '~'
        return *code == '3' ? keys::kDelete : *code == '5' ? keys::kPageUp : keys::kPageDown;
      default:
        return keys::kEscape;
    }
  }
  if (*c == 0x7f || *c == 0x08) return keys::kBackSpace;
  if (*c == '\r' || *c == '\n') return keys::kReturn;
  return *c;
}

// Where Render puts the preedit: the composition happens on this line, so the terminal's cursor
// and the candidate window's caret go there.
constexpr int kPreeditRow = 2;     // 0-based
constexpr int kPreeditColumn = 2;  // after two spaces

// The terminal cells that text takes: East Asian wide characters take two.
int TerminalColumns(std::string_view text) {
  int columns = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t cp = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (size_t k = 1; k < length && i + k < text.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    columns += wide ? 2 : 1;
    i += length;
  }
  return columns;
}

// The column of the preedit's cursor (0-based).
int CursorColumn(const ContextView& view) {
  const size_t cursor = std::min<size_t>(view.cursor, view.preedit.size());
  return kPreeditColumn + TerminalColumns(std::string_view(view.preedit).substr(0, cursor));
}

void Render(const std::string& document, const ContextView& view, const std::string& status) {
  std::printf("\033[H\033[2J");
  std::printf("Kavi — type pinyin; space/digits pick, arrows move, -/= page, F8 dictates, "
              "Ctrl-D quits\r\n\r\n");
  std::printf("%*s%s\r\n", kPreeditColumn, "", view.preedit.c_str());
  for (size_t i = 0; i < view.candidates.size(); ++i) {
    bool hl = i == view.highlighted;
    std::printf("%s%zu.%s%s  ", hl ? "\033[7m" : "", (i + 1) % 10, view.candidates[i].text.c_str(),
                hl ? "\033[0m" : "");
  }
  std::printf("\r\n\r\n%s%s\r\n\r\n", view.ascii_mode ? "[ASCII] " : "", status.c_str());
  std::printf("text: %s", document.c_str());
  // The terminal's cursor waits where the next letter composes.
  std::printf("\033[%d;%dH", kPreeditRow + 1, CursorColumn(view) + 1);
  std::fflush(stdout);
}

// Tells the server where the preedit's cursor cell is on the screen, so that the candidate
// window opens under it.
void PlaceCaret(const TerminalWindow& terminal, const ContextView& view, InputContext& context) {
  const std::optional<TerminalCellArea> cells = terminal.Cells();
  if (!cells) return;
  ScreenRect caret;
  caret.left = cells->left + CursorColumn(view) * cells->cell_width;
  caret.top = cells->top + kPreeditRow * cells->cell_height;
  caret.right = caret.left + 1;
  caret.bottom = caret.top + cells->cell_height;
  context.SetCaret(caret, true);
}

// The terminal as a front end: keys go through the input context; between keys it polls, so
// that clicks, hovering and the wheel in the candidate window reach it.
class TerminalView : public Document {
 public:
  void Show(const ContextView& view) override { view_ = view; }
  const ContextView& view() const { return view_; }

 private:
  ContextView view_;
};

int Interactive(FrontendConnection& connection) {
  RawTerminal terminal;
  if (!terminal.active()) {
    std::cerr << "kavi-client: interactive mode needs a terminal (try: kavi-client type nihao)\n";
    return 2;
  }
  TerminalView screen;
  InputContext context(connection, screen);
  const TerminalWindow window;
  context.FocusIn();
  std::string status;
  std::string voice;  // what the last F8 brought
  Render(screen.text(), screen.view(), status);
  PlaceCaret(window, screen.view(), context);
  for (;;) {
    const RawTerminal::InputWait input = terminal.WaitForInput(kPollIntervalMs);
    if (input == RawTerminal::InputWait::kTimedOut) {
      context.Poll();
    } else {
      std::optional<uint32_t> read = ReadKey(terminal);
      if (!read || *read == 0x04 || *read == 0x03) break;
      if (!context.ProcessKey(*read, 0)) screen.PassedKey(*read);
      if (*read == keys::kF8)
        voice = context.voice_message().empty() ? "voice: F8 toggled dictation"
                                                : "voice: " + context.voice_message();
    }
    status = connection.channel().ConnectionId() == 0 ? "the server did not answer; retrying"
                                                      : voice;
    Render(screen.text(), screen.view(), status);
    PlaceCaret(window, screen.view(), context);
  }
  context.FocusOut();
  std::printf("\r\n");
  return 0;
}

void Usage() {
  std::cerr << "usage: kavi-client [--socket PATH] [--no-start] [COMMAND]\n"
               "  (no command)      interactive typing in this terminal\n"
               "  type [--hold MS] KEYS\n"
               "                    type KEYS (e.g. nihao{space}) and print the state; --hold keeps\n"
               "                    the composition (and the candidate window) MS ms first\n"
               "  pid               print the server's process id\n"
               "  shutdown          stop the server\n"
               "  send KIND [ARG]   send one request of KIND and print the reply\n"
               "  pair              pair with the 2FA companion: print the link, wait for approval\n"
               "  unpair            forget the pairing\n";
}

}  // namespace

int Main(int argc, char** argv) {
  ClientOptions options;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--socket" && i + 1 < argc)
      options.socket_path = argv[++i];
    else if (a == "--no-start")
      options.start_server = false;
    else if (a == "-h" || a == "--help") {
      Usage();
      return 0;
    } else
      args.push_back(a);
  }
  ClientChannel channel(options);
  KaviClient& client = channel.client();
  FrontendConnection connection(channel);
  std::string message;
  if (!ConnectPatiently(client, &message)) {
    std::cerr << "kavi-client: cannot reach the server: " << message << "\n";
    return 1;
  }
  if (args.empty()) return Interactive(connection);
  const std::string& command = args[0];
  if (command == "type" && args.size() == 2) return TypeCommand(connection, args[1], 0);
  if (command == "type" && args.size() == 4 && args[1] == "--hold")
    return TypeCommand(connection, args[3], std::atoi(args[2].c_str()));
  if (command == "pid" && args.size() == 1) {
    auto reply = Require(client.Send(RequestKind::QueryServerPid));
    if (!reply || reply->kind != static_cast<uint16_t>(ReplyKind::Ok)) return 1;
    std::cout << reply->value << "\n";
    return 0;
  }
  if (command == "shutdown" && args.size() == 1) {
    auto reply = Require(client.Send(RequestKind::Shutdown));
    return reply && reply->kind == static_cast<uint16_t>(ReplyKind::Ok) ? 0 : 1;
  }
  if ((command == "pair" || command == "unpair") && args.size() == 1) {
    PipeRequest request = MakeRequest(command == "pair" ? RequestKind::CompanionRequest0
                                                        : RequestKind::CompanionRequest4);
    request.context_id = kContextId;
    auto reply = Require(client.Transact(request));
    const bool ok = reply && reply->kind == static_cast<uint16_t>(ReplyKind::Ok);
    if (!ok || command == "unpair") {
      if (!ok) std::cerr << "kavi-client: " << (reply ? Field(reply->commit_text) : "") << "\n";
      return ok ? 0 : 1;
    }
    std::cout << Field(reply->commit_text) << std::endl;
    // The server answers each wait within its own limit: ask again until the pairing settles.
    for (;;) {
      PipeRequest wait = MakeRequest(RequestKind::CompanionRequest1);
      wait.context_id = kContextId;
      reply = Require(client.Transact(wait));
      if (!reply) return 1;
      const std::string text = Field(reply->commit_text);
      if (reply->kind == static_cast<uint16_t>(ReplyKind::Ok)) {
        std::cout << "paired" << (text.empty() ? "" : " with " + text) << "\n";
        return 0;
      }
      if (text != kPairingStillWaiting) {
        std::cerr << "kavi-client: " << text << "\n";
        return 1;
      }
    }
  }
  if (command == "send" && (args.size() == 2 || args.size() == 3)) {
    PipeRequest request = MakeRequest(static_cast<RequestKind>(std::stoi(args[1])));
    request.context_id = kContextId;
    if (args.size() == 3) {
      try {
        request.argument = static_cast<uint32_t>(std::stol(args[2]));
      } catch (...) {
        CopyTextField(request.text, args[2]);
      }
    }
    auto reply = Require(client.Transact(request));
    if (!reply) return 1;
    std::cout << "kind: " << reply->kind << "\nresult: " << int(reply->result)
              << "\nstatus: " << reply->status_code << "\nvalue: " << reply->value << "\n";
    std::string text = Field(reply->commit_text);
    if (!text.empty()) std::cout << "text: " << text << "\n";
    PrintReply(*reply, std::cout);
    return 0;
  }
  Usage();
  return 2;
}

}  // namespace kavi::win

int main(int argc, char** argv) {
  return kavi::win::Main(argc, argv);
}
