// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/server_link.h"

namespace kavi::win {

namespace {

// Catalogue listings and job starts read directories on the server's side; the window waits
// for them without freezing, so a loaded machine may take longer than a key press's 250 ms.
constexpr int kSettingsTransactionTimeoutMs = 3000;

}  // namespace

std::string ServerAnswer::Message() const {
  if (!reached) return {};
  return std::string(TextFieldView(reply.commit_text));
}

ServerAnswer Ask(KaviClient& client, RequestKind kind, std::string_view text, uint32_t argument,
                 ScreenRect rect) {
  PipeRequest request = MakeRequest(kind);
  request.argument = argument;
  request.rect = rect;
  CopyTextField(request.text, text);
  ServerAnswer answer;
  if (std::optional<PipeResponse> reply = client.Transact(request)) {
    answer.reached = true;
    answer.reply = *reply;
  }
  return answer;
}

ClientOptions SettingsClientOptions() {
  ClientOptions options;
  options.start_server = false;
  options.transaction_timeout_ms = kSettingsTransactionTimeoutMs;
  return options;
}

ServerLink::ServerLink(ClientOptions options, Post post)
    : client_(std::move(options)), post_(std::move(post)), thread_([this] { Loop(); }) {}

ServerLink::~ServerLink() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_one();
  thread_.join();
}

void ServerLink::Run(Work work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void ServerLink::Send(RequestKind kind, std::string text, uint32_t argument,
                      std::function<void(const ServerAnswer&)> done, ScreenRect rect) {
  Run([kind, text = std::move(text), argument, rect,
       done = std::move(done)](KaviClient& client) -> std::function<void()> {
    ServerAnswer answer = Ask(client, kind, text, argument, rect);
    return [done, answer] { done(answer); };
  });
}

void ServerLink::Loop() {
  for (;;) {
    Work work;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    std::function<void()> then = work(client_);
    if (then) post_(std::move(then));
  }
}

}  // namespace kavi::win
