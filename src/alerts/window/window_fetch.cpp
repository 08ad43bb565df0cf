#include "alerts/window/window_fetch.h"

#include <memory>
#include <utility>
#include <vector>

#include "alerts/window/alert_messages.h"
#include "common/worker_thread.h"

namespace brivon {
namespace {

struct WindowFetch {
  std::string address;
  const wchar_t* userAgent;
  DWORD deadlineMs;
  std::shared_ptr<FetchCell> cell;
};

DWORD WINAPI WindowFetchWorker(LPVOID parameter) {
  std::unique_ptr<WindowFetch> fetch(static_cast<WindowFetch*>(parameter));
  try {
    // A window that has gone takes no message; the cell goes with this worker's share.
    fetch->cell->Put(FetchBody(fetch->address, fetch->userAgent, fetch->deadlineMs));
  } catch (...) {
    // Out of memory: the window goes on without it, as after a failed download.
  }
  return 0;
}

}  // namespace

void FetchCell::Put(FetchedBody fetched) {
  HWND wake = nullptr;
  std::function<void()> then;
  {
    std::lock_guard<std::mutex> hold(lock_);
    value_ = std::move(fetched);
    arrived_ = true;
    wake = wake_;
    then = std::move(then_);
  }
  if (wake) ::PostMessageW(wake, WM_REMOTE_ARRIVED, 0, 0);
  if (then) then();
}

void FetchCell::WhenArrived(std::function<void()> then) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!arrived_) {
      then_ = std::move(then);
      return;
    }
  }
  then();
}

void FetchCell::WakeWhenArrived(HWND window) {
  bool arrived = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    wake_ = window;
    arrived = arrived_ && !taken_;
  }
  if (arrived && window) ::PostMessageW(window, WM_REMOTE_ARRIVED, 0, 0);
}

bool StartWindowFetch(HWND window, const std::string& address, const wchar_t* userAgent,
                      std::shared_ptr<FetchCell> cell, FetchWorkers* keeper) {
  if (!cell) return false;
  if (window) cell->WakeWhenArrived(window);
  const DWORD deadlineMs = RemoteTransferDeadlineMs();
  std::unique_ptr<WindowFetch> fetch(new WindowFetch{address, userAgent, deadlineMs, std::move(cell)});
  const ULONGLONG endBy = ::GetTickCount64() + deadlineMs;
  UniqueHandle thread = StartWorkerThread(WindowFetchWorker, std::move(fetch));
  if (!thread) return false;
  if (keeper) keeper->Keep(std::move(thread), endBy);
  return true;
}

void FetchWorkers::Keep(UniqueHandle worker, ULONGLONG endBy) {
  if (!worker) return;
  // Those that have ended need no keeping.
  for (size_t i = workers_.size(); i-- > 0;) {
    if (::WaitForSingleObject(workers_[i].thread.get(), 0) == WAIT_OBJECT_0) workers_.erase(workers_.begin() + i);
  }
  try {
    workers_.push_back(Kept{std::move(worker), endBy});
  } catch (...) {
    // Not kept: the handle closes here and the worker still ends by itself.
  }
}

void FetchWorkers::WaitForAll() {
  for (Kept& worker : workers_) {
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG until = worker.endBy + kTransferEndsWithinMs;
    ::WaitForSingleObject(worker.thread.get(), now < until ? static_cast<DWORD>(until - now) : 0);
  }
  workers_.clear();
}

}  // namespace brivon
