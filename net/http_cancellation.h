// SPDX-License-Identifier: Apache-2.0
// A token that lets one thread abort the HTTPS transfers that other threads are blocked in.
#pragma once

#include <mutex>
#include <vector>

namespace kavi::win {

// A transfer in flight, as the token sees it. Abort must make the transfer's blocked calls fail
// at once (for a socket: shut it down) and may be called from any thread, at most once.
class HttpTransferHandle {
 public:
  virtual ~HttpTransferHandle() = default;
  virtual void Abort() = 0;
};

class HttpCancellation {
 public:
  HttpCancellation() = default;
  HttpCancellation(const HttpCancellation&) = delete;
  HttpCancellation& operator=(const HttpCancellation&) = delete;

  // Sets the flag, aborts every registered transfer and empties the list.
  void Cancel();
  bool IsCancelled() const;
  // Clears the flag, but only while no transfer is registered: a transfer still holding the
  // token must see the cancellation it was given.
  void Rearm();

  // Adds the transfer; when the token is already cancelled the transfer is aborted at once
  // instead (and not added).
  void Register(HttpTransferHandle* handle);
  // Removes the transfer; false when Cancel had already taken (and aborted) it.
  bool Unregister(HttpTransferHandle* handle);

 private:
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  std::vector<HttpTransferHandle*> handles_;
};

}  // namespace kavi::win
