// One worker thread that scales pictures (and decodes the update picture) for the alert windows,
// so that no window's thread spends its first paint on them. Jobs run one at a time, in the order
// they were posted. Only the main thread posts, waits and stops.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "common/unique_handle.h"

namespace brivon {

class ScalingWorker {
 public:
  ScalingWorker() = default;
  ~ScalingWorker() { Stop(); }
  ScalingWorker(const ScalingWorker&) = delete;
  ScalingWorker& operator=(const ScalingWorker&) = delete;

  // Runs job on the worker after every job posted before it. Its ticket, for WaitFor; 0 when it
  // will never run (no thread, no memory, stopped): the caller then goes on without its result.
  // A job must not throw; one that does ends quietly.
  uint64_t Post(std::function<void()> job);

  // Waits until the job of this ticket, and all before it, have run (or been dropped by Stop).
  void WaitFor(uint64_t ticket);

  // Drops the jobs not begun and waits for the one running: nothing runs afterwards. Before the
  // pictures the jobs read go, and before GDI+ shuts down.
  void Stop();

  struct Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::function<void()>> jobs;
    uint64_t posted = 0;  // tickets handed out
    uint64_t done = 0;    // the last ticket run or dropped
    bool stopping = false;
  };

 private:
  std::shared_ptr<Shared> shared_;
  UniqueHandle thread_;
};

}  // namespace brivon
