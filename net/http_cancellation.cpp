// SPDX-License-Identifier: Apache-2.0
#include "net/http_cancellation.h"

#include <algorithm>

namespace kavi::win {

void HttpCancellation::Cancel() {
  std::lock_guard<std::mutex> hold(mutex_);
  cancelled_ = true;
  for (HttpTransferHandle* handle : handles_) handle->Abort();
  handles_.clear();
}

bool HttpCancellation::IsCancelled() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return cancelled_;
}

void HttpCancellation::Rearm() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (handles_.empty()) cancelled_ = false;
}

void HttpCancellation::Register(HttpTransferHandle* handle) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (cancelled_) {
    handle->Abort();
    return;
  }
  handles_.push_back(handle);
}

bool HttpCancellation::Unregister(HttpTransferHandle* handle) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = std::find(handles_.begin(), handles_.end(), handle);
  if (found == handles_.end()) return false;
  handles_.erase(found);
  return true;
}

}  // namespace kavi::win
