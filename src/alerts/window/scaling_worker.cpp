#include "alerts/window/scaling_worker.h"

#include <memory>
#include <utility>

#include "common/worker_thread.h"

namespace brivon {
namespace {

DWORD WINAPI ScalingThread(LPVOID parameter) {
  std::unique_ptr<std::shared_ptr<ScalingWorker::Shared>> held(
      static_cast<std::shared_ptr<ScalingWorker::Shared>*>(parameter));
  ScalingWorker::Shared& shared = **held;
  try {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> hold(shared.lock);
        shared.changed.wait(hold, [&] { return shared.stopping || !shared.jobs.empty(); });
        if (shared.stopping) return 0;
        job = std::move(shared.jobs.front());
        shared.jobs.pop_front();
      }
      try {
        job();
      } catch (...) {
        // Out of memory in a job: its picture is drawn the slow way, by the paint.
      }
      job = nullptr;  // what it held goes here, not under the lock
      std::lock_guard<std::mutex> hold(shared.lock);
      ++shared.done;
      shared.changed.notify_all();
    }
  } catch (...) {
    // A lock that could not be taken: nothing more runs; Stop does not wait on a ticket.
    return 0;
  }
}

}  // namespace

uint64_t ScalingWorker::Post(std::function<void()> job) {
  try {
    if (!thread_) {
      if (shared_) return 0;  // stopped, or a thread that could not start
      shared_ = std::make_shared<Shared>();
      thread_ = StartWorkerThread(ScalingThread, std::make_unique<std::shared_ptr<Shared>>(shared_));
      if (!thread_) return 0;
    }
    std::lock_guard<std::mutex> hold(shared_->lock);
    if (shared_->stopping) return 0;
    shared_->jobs.push_back(std::move(job));
    shared_->changed.notify_all();
    return ++shared_->posted;
  } catch (...) {
    return 0;
  }
}

void ScalingWorker::WaitFor(uint64_t ticket) {
  if (ticket == 0 || !thread_) return;
  try {
    std::unique_lock<std::mutex> hold(shared_->lock);
    shared_->changed.wait(hold, [&] { return shared_->stopping || shared_->done >= ticket; });
  } catch (...) {
    // Not waited for: the paint finds no copy and scales the pictures itself.
  }
}

void ScalingWorker::Stop() {
  if (!thread_) return;
  std::deque<std::function<void()>> dropped;
  try {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->stopping = true;
    dropped.swap(shared_->jobs);
    shared_->changed.notify_all();
  } catch (...) {
  }
  ::WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
}

}  // namespace brivon
