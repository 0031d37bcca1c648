// SPDX-License-Identifier: Apache-2.0
// Saves what the engine learned a few seconds after the last commit, so that a crash loses at
// most those seconds of learning instead of everything since the last clean stop. A user who
// types without a pause is saved at least every kLongestUnsaved; SaveNow (SIGHUP) saves at once.
// A clean stop saves through the engine's finalisation.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "ports/user_data_port.h"

namespace kavi::win {

class UserDataSaver : public UserDataPort {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kQuietDelay{3000};
  static constexpr std::chrono::milliseconds kLongestUnsaved{30000};

  // `save` writes the engine's user data (it takes the engine lock itself); it runs on the
  // saver's own thread.
  explicit UserDataSaver(std::function<void()> save, std::chrono::milliseconds quiet = kQuietDelay,
                         std::chrono::milliseconds longest = kLongestUnsaved);
  ~UserDataSaver() override;
  UserDataSaver(const UserDataSaver&) = delete;
  UserDataSaver& operator=(const UserDataSaver&) = delete;

  void NoteCommit() override;
  // Saves on the saver's thread as soon as it can, whether or not anything was committed.
  void SaveNow();
  // Ends the thread; what is still unsaved is left to the engine's finalisation.
  void Stop();

 private:
  void Run();

  const std::function<void()> save_;
  const std::chrono::milliseconds quiet_;
  const std::chrono::milliseconds longest_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Clock::time_point> first_unsaved_;
  Clock::time_point last_commit_;
  bool save_now_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kavi::win
