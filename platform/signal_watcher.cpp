// SPDX-License-Identifier: Apache-2.0
#include "platform/signal_watcher.h"

#include <pthread.h>
#include <signal.h>

namespace kavi::win {

namespace {

// SIGUSR1 is the watcher's own stop signal.
sigset_t Signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

void SignalWatcher::BlockSignals() {
  sigset_t set = Signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(std::function<void()> on_stop, std::function<void()> on_hangup)
    : thread_([on_stop = std::move(on_stop), on_hangup = std::move(on_hangup)] {
        sigset_t set = Signals();
        int signal = 0;
        while (sigwait(&set, &signal) == 0) {
          if (signal == SIGUSR1) return;
          if (signal == SIGHUP) {
            if (on_hangup) on_hangup();
          } else if (on_stop) {
            on_stop();
          }
        }
      }) {}

SignalWatcher::~SignalWatcher() {
  pthread_kill(thread_.native_handle(), SIGUSR1);
  thread_.join();
}

}  // namespace kavi::win
