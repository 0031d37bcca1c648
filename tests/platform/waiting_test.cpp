// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/instance_lock.h"
#include "platform/signal_watcher.h"
#include "platform/wakeup.h"
#include "tests/common/temp_dir.h"

namespace kavi::win {
namespace {

using testing::TempDir;

// A pipe whose ends close with the test.
struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~Pipe() {
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
  }
  void CloseWriteEnd() {
    ::close(fds[1]);
    fds[1] = -1;
  }
  int fds[2] = {-1, -1};
};

TEST(WakeupTest, WakesOnceForManyWakesAndWinsOverReadyDescriptors) {
  Wakeup wakeup;
  ASSERT_TRUE(wakeup.valid());
  Pipe pipe;
  const int fds[2] = {pipe.fds[0], -1};
  bool ready[2] = {true, true};
  EXPECT_EQ(wakeup.Wait(fds, 0, ready), Wakeup::WaitResult::kTimedOut);

  wakeup.Wake();
  wakeup.Wake();
  ASSERT_EQ(::write(pipe.fds[1], "x", 1), 1);
  EXPECT_EQ(wakeup.Wait(fds, -1, ready), Wakeup::WaitResult::kWoken);
  EXPECT_TRUE(ready[0]);
  EXPECT_FALSE(ready[1]);
  // Both wakes were taken by the one wait; the byte is still there to read.
  EXPECT_EQ(wakeup.Wait(fds, -1, ready), Wakeup::WaitResult::kReady);
  EXPECT_TRUE(ready[0]);
  char byte;
  ASSERT_EQ(::read(pipe.fds[0], &byte, 1), 1);
  EXPECT_EQ(wakeup.Wait(fds, 0, ready), Wakeup::WaitResult::kTimedOut);

  // A closed writer makes the reader ready, so that its read reports the end.
  pipe.CloseWriteEnd();
  EXPECT_EQ(wakeup.Wait(fds, -1, ready), Wakeup::WaitResult::kReady);
  EXPECT_TRUE(ready[0]);
}

TEST(WakeupTest, AnotherThreadEndsAWaitWithoutLimit) {
  Wakeup wakeup;
  std::thread waker([&] { wakeup.Wake(); });
  bool none[1];
  EXPECT_EQ(wakeup.Wait({}, -1, none), Wakeup::WaitResult::kWoken);
  waker.join();
}

TEST(InstanceLockTest, AWaitingLockerGetsTheLockWhenItIsReleased) {
  TempDir dir;
  const std::filesystem::path path = dir.path() / "x.lock";
  InstanceLock first;
  std::string message;
  ASSERT_TRUE(first.AcquireWaiting(path, &message)) << message;
  InstanceLock other;
  EXPECT_EQ(other.Acquire(path, &message), InstanceLock::Result::HeldElsewhere);

  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    InstanceLock second;
    std::string waiter_message;
    acquired = second.AcquireWaiting(path, &waiter_message);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired);
  first.Release();
  waiter.join();
  EXPECT_TRUE(acquired);

  int error = 0;
  EXPECT_FALSE(first.AcquireWaiting(dir.path() / "missing" / "x.lock", &message, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(message.rfind("cannot lock " + (dir.path() / "missing").string(), 0), 0u) << message;
}

// In a child of its own: the signals are blocked only in the threads started after BlockSignals.
TEST(SignalWatcherTest, TermAndIntStopHangupSavesAndTheWatcherEndsWithItsOwner) {
  EXPECT_EXIT(
      {
        SignalWatcher::BlockSignals();
        std::mutex mutex;
        std::condition_variable changed;
        int stops = 0;
        int hangups = 0;
        {
          SignalWatcher watcher(
              [&] {
                std::lock_guard lock(mutex);
                ++stops;
                changed.notify_all();
              },
              [&] {
                std::lock_guard lock(mutex);
                ++hangups;
                changed.notify_all();
              });
          ::kill(::getpid(), SIGHUP);
          {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return hangups == 1; });
          }
          ::kill(::getpid(), SIGTERM);
          std::unique_lock lock(mutex);
          changed.wait(lock, [&] { return stops == 1; });
          lock.unlock();
          ::kill(::getpid(), SIGINT);
          lock.lock();
          changed.wait(lock, [&] { return stops == 2; });
        }
        // The watcher has ended; a blocked signal now stays pending instead of stopping anyone.
        ::kill(::getpid(), SIGTERM);
        ::kill(::getpid(), SIGHUP);
        std::_Exit(stops == 2 && hangups == 1 ? 7 : 1);
      },
      ::testing::ExitedWithCode(7), "");
}

}  // namespace
}  // namespace kavi::win
