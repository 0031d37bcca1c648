// SPDX-License-Identifier: Apache-2.0
#include "server/app/user_data_saver.h"

#include <algorithm>

namespace kavi::win {

UserDataSaver::UserDataSaver(std::function<void()> save, std::chrono::milliseconds quiet,
                             std::chrono::milliseconds longest)
    : save_(std::move(save)), quiet_(quiet), longest_(longest), thread_([this] { Run(); }) {}

UserDataSaver::~UserDataSaver() {
  Stop();
}

void UserDataSaver::NoteCommit() {
  std::lock_guard<std::mutex> lock(mutex_);
  last_commit_ = Clock::now();
  if (!first_unsaved_) first_unsaved_ = last_commit_;
  wake_.notify_one();
}

void UserDataSaver::SaveNow() {
  std::lock_guard<std::mutex> lock(mutex_);
  save_now_ = true;
  wake_.notify_one();
}

void UserDataSaver::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    wake_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
}

void UserDataSaver::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (save_now_ || (first_unsaved_ && Clock::now() >= std::min(last_commit_ + quiet_,
                                                                 *first_unsaved_ + longest_))) {
      save_now_ = false;
      first_unsaved_.reset();
      // Commits during the save are noted for the next one.
      lock.unlock();
      save_();
      lock.lock();
      continue;
    }
    if (first_unsaved_) {
      wake_.wait_until(lock, std::min(last_commit_ + quiet_, *first_unsaved_ + longest_));
    } else {
      wake_.wait(lock);
    }
  }
}

}  // namespace kavi::win
