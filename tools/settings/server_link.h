// SPDX-License-Identifier: Apache-2.0
// The settings application's line to the running server: requests go out on a thread of their
// own, so a slow or missing server never freezes the window, and each answer is handed back on
// the window's thread. KaviSettings never starts the server: a page says when none runs.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "client/kavi_client.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

// One request's outcome.
struct ServerAnswer {
  bool reached = false;  // false: no server, or no answer in time
  PipeResponse reply{};

  bool Is(ReplyKind kind) const { return reached && reply.kind == static_cast<uint16_t>(kind); }
  // The message of a refusal, or the text a reply carries in its commit-text field.
  std::string Message() const;
};

// Builds and sends one request on `client`.
ServerAnswer Ask(KaviClient& client, RequestKind kind, std::string_view text = {},
                 uint32_t argument = 0, ScreenRect rect = {0, 0, 0, 0});

// The settings application's client options: this user's and display's server, never started
// from here, and a time-out that a busy machine does not trip for requests that touch files.
ClientOptions SettingsClientOptions();

class ServerLink {
 public:
  // Runs a callback on the thread that owns the window; tests run it in place.
  using Post = std::function<void(std::function<void()>)>;
  // Runs on the link's thread with its client; returns what to run on the window's thread.
  using Work = std::function<std::function<void()>(KaviClient& client)>;

  ServerLink(ClientOptions options, Post post);
  ~ServerLink();
  ServerLink(const ServerLink&) = delete;
  ServerLink& operator=(const ServerLink&) = delete;

  // Queues `work`; requests run one at a time in the order they were queued.
  void Run(Work work);
  // One request; `done` gets the answer on the window's thread.
  void Send(RequestKind kind, std::string text, uint32_t argument,
            std::function<void(const ServerAnswer&)> done, ScreenRect rect = {0, 0, 0, 0});

 private:
  void Loop();

  KaviClient client_;
  const Post post_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Work> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace kavi::win
