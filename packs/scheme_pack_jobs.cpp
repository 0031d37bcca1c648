// SPDX-License-Identifier: Apache-2.0
#include "packs/scheme_pack_jobs.h"

#include <exception>

#include "platform/log.h"

namespace kavi::win {

SchemePackJobs::SchemePackJobs(SchemePackManager* manager, HttpCancellation* cancellation,
                               EngineRestart restart)
    : manager_(manager), cancellation_(cancellation), restart_(std::move(restart)) {}

SchemePackJobs::~SchemePackJobs() {
  Join();
}

void SchemePackJobs::Join() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    worker = std::move(worker_);
  }
  if (worker.joinable()) worker.join();
}

std::string SchemePackJobs::last_message() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return last_message_;
}

bool SchemePackJobs::StartJob(bool install, const std::string& pack_id,
                              std::function<void(bool success)> finished, std::string* message) {
  if (manager_ == nullptr) {
    if (message != nullptr) *message = kPackNotReadyMessage;
    return false;
  }
  // The busy flag keeps a second job out, so a previous worker has finished or is finishing.
  Join();
  // A cancellation of the previous job must not stop this one.
  cancellation_->Rearm();
  std::lock_guard<std::mutex> hold(mutex_);
  worker_ = std::thread([this, install, pack_id, finished = std::move(finished)] {
    std::string job_message;
    bool ok = false;
    try {
      ok = Run(install, pack_id, &job_message);
    } catch (const std::exception&) {
      job_message = kSchemeJobExceptionMessage;
    } catch (...) {
      job_message = kSchemeJobUnknownExceptionMessage;
    }
    if (!ok && !cancellation_->IsCancelled()) LogLine(kSchemeJobFailedLog + job_message + "\n");
    {
      std::lock_guard<std::mutex> hold(mutex_);
      last_message_ = ok ? std::string() : job_message;
    }
    if (finished) finished(ok);
  });
  return true;
}

bool SchemePackJobs::Run(bool install, const std::string& pack_id, std::string* message) {
  const bool done = install ? manager_->Install(pack_id, message, cancellation_)
                            : manager_->Remove(pack_id, message);
  if (!done) return false;
  return !restart_ || restart_(message);
}

bool SchemePackJobs::IsInstalled(const std::string& scheme_id) {
  return manager_ != nullptr && manager_->IsInstalled(scheme_id);
}

void SchemePackJobs::CancelJob() {
  cancellation_->Cancel();
}

}  // namespace kavi::win
