// A window's own download (the update picture, the terms document) on a worker thread: the
// window paints and answers at once, and takes what arrived when the worker says so.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "alerts/window/remote_resources.h"
#include "common/unique_handle.h"

namespace brivon {

// What the download brought, written once by the worker and taken once by the window. Shared by
// both, so the window never takes a pointer out of a message (any process of the user can post
// one), and what arrives after the window has gone is freed with the worker's share.
class FetchCell {
 public:
  // Puts it, and wakes the window waiting for it, if one is, with WM_REMOTE_ARRIVED.
  void Put(FetchedBody fetched);
  // The window to wake once it is put: at once when it already is. A download started before its
  // window was made is handed to the window this way.
  void WakeWhenArrived(HWND window);
  // Runs then on the worker's thread once it is put (at once, on this one, when it already is):
  // what arrives ahead of its window can be worked on before the window is there.
  void WhenArrived(std::function<void()> then);
  // Whether it is there to take.
  bool Arrived() {
    std::lock_guard<std::mutex> hold(lock_);
    return arrived_ && !taken_;
  }
  // False until the worker has put it, and once taken.
  bool Take(FetchedBody* fetched) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!arrived_ || taken_) return false;
    *fetched = std::move(value_);
    value_ = FetchedBody();
    taken_ = true;
    return true;
  }

 private:
  std::mutex lock_;
  FetchedBody value_;
  HWND wake_ = nullptr;
  std::function<void()> then_;
  bool arrived_ = false;
  bool taken_ = false;
};

// The download workers of one run of the windows, kept until its end: the program must not end
// in the middle of their calls. Only the thread that owns the run keeps and waits for them.
class FetchWorkers {
 public:
  FetchWorkers() = default;
  ~FetchWorkers() { WaitForAll(); }
  FetchWorkers(const FetchWorkers&) = delete;
  FetchWorkers& operator=(const FetchWorkers&) = delete;

  // Keeps a worker that ends by itself by endBy (GetTickCount64).
  void Keep(UniqueHandle worker, ULONGLONG endBy);
  // Lets the workers finish, each at most until a moment after its own deadline, so a worker
  // stuck on a silent host never holds the end for longer.
  void WaitForAll();

 private:
  struct Kept {
    UniqueHandle thread;
    ULONGLONG endBy;
  };
  std::vector<Kept> workers_;
};

// Starts the download of `address` for window into cell; window (none: the one the cell is
// handed to later) hears WM_REMOTE_ARRIVED once it is there. The worker is kept by keeper (none:
// it ends by itself all the same). False when no thread could be started (nothing will arrive).
bool StartWindowFetch(HWND window, const std::string& address, const wchar_t* userAgent,
                      std::shared_ptr<FetchCell> cell, FetchWorkers* keeper);

}  // namespace brivon
