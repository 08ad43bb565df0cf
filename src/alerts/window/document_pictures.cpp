#include "alerts/window/document_pictures.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "alerts/window/remote_resources.h"
#include "alerts/window/window_fetch.h"
#include "common/unique_handle.h"
#include "common/worker_thread.h"

namespace brivon {

using Clock = std::chrono::steady_clock;

namespace {

DWORD MillisecondsUntil(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (now >= deadline) return 0;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
  return left < 1 ? 1 : static_cast<DWORD>(left);
}

}  // namespace

struct PictureDownloads::Shared {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> addresses;
  std::vector<std::string> bodies;
  std::vector<char> done;
  size_t next = 0;   // the next picture a worker takes
  size_t taken = 0;  // pictures the caller has taken; the workers stay kPicturesAhead past it
  bool abandoned = false;
  Clock::time_point deadline;
  size_t workers = 0;
};

namespace {

// One of the workers: takes the next picture until none is left, the deadline has passed or the
// caller has gone.
DWORD WINAPI PictureWorker(LPVOID parameter) {
  std::unique_ptr<std::shared_ptr<PictureDownloads::Shared>> held(
      static_cast<std::shared_ptr<PictureDownloads::Shared>*>(parameter));
  PictureDownloads::Shared& shared = **held;
  try {
    for (;;) {
      size_t index = 0;
      std::string address;
      DWORD leftMs = 0;
      {
        std::unique_lock<std::mutex> hold(shared.lock);
        shared.changed.wait_until(hold, shared.deadline, [&] {
          return shared.abandoned || shared.next >= shared.addresses.size() ||
                 shared.next < shared.taken + kPicturesAhead;
        });
        if (shared.abandoned || shared.next >= shared.addresses.size()) return 0;
        if (shared.next >= shared.taken + kPicturesAhead) return 0;  // the deadline passed waiting
        leftMs = MillisecondsUntil(shared.deadline);
        if (leftMs == 0) return 0;
        index = shared.next++;
        address = shared.addresses[index];
      }
      std::string body;
      bool fetched = false;
      try {
        fetched = DownloadBody(address, kImageUserAgent, body, nullptr, leftMs);
      } catch (...) {
        // Out of memory: this picture is absent.
      }
      std::lock_guard<std::mutex> hold(shared.lock);
      if (fetched && !shared.abandoned) shared.bodies[index] = std::move(body);
      shared.done[index] = 1;
      shared.changed.notify_all();
    }
  } catch (...) {
    // A lock that could not be taken: the caller stops waiting at the deadline.
  }
  return 0;
}

}  // namespace

PictureDownloads::PictureDownloads(std::vector<std::string> addresses, DWORD deadlineMs, FetchWorkers* keeper)
    : shared_(std::make_shared<Shared>()) {
  Shared& shared = *shared_;
  shared.deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
  shared.bodies.resize(addresses.size());
  shared.done.resize(addresses.size(), 0);
  shared.addresses = std::move(addresses);
  const ULONGLONG endBy = ::GetTickCount64() + deadlineMs;
  const size_t wanted = shared.addresses.size() < kPicturesSideBySide ? shared.addresses.size() : kPicturesSideBySide;
  for (size_t i = 0; i < wanted; ++i) {
    UniqueHandle worker = StartWorkerThread(PictureWorker, std::make_unique<std::shared_ptr<Shared>>(shared_));
    if (!worker) break;
    ++shared.workers;
    if (keeper) keeper->Keep(std::move(worker), endBy);
  }
}

PictureDownloads::~PictureDownloads() { Abandon(); }

void PictureDownloads::Abandon() {
  try {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->abandoned = true;
    for (std::string& body : shared_->bodies) std::string().swap(body);
    shared_->changed.notify_all();
  } catch (...) {
    // The workers end at the deadline all the same.
  }
}

std::string PictureDownloads::Take(size_t index) {
  Shared& shared = *shared_;
  if (index >= shared.addresses.size()) return {};
  if (shared.workers == 0) {
    // No worker could start: fetched here, one after another, within what is left.
    {
      std::lock_guard<std::mutex> hold(shared.lock);
      if (shared.abandoned) return {};
    }
    const DWORD leftMs = MillisecondsUntil(shared.deadline);
    std::string body;
    if (leftMs == 0 || !DownloadBody(shared.addresses[index], kImageUserAgent, body, nullptr, leftMs)) return {};
    return body;
  }
  std::unique_lock<std::mutex> hold(shared.lock);
  const auto isDone = [&] { return shared.done[index] != 0 || shared.abandoned; };
  // One no worker took before the deadline will never arrive; one in flight gets its moment.
  if (!shared.changed.wait_until(hold, shared.deadline, isDone) && index < shared.next) {
    shared.changed.wait_until(hold, shared.deadline + std::chrono::milliseconds(kTransferEndsWithinMs), isDone);
  }
  std::string body;
  if (shared.done[index] && !shared.abandoned) body.swap(shared.bodies[index]);
  if (shared.taken < index + 1) shared.taken = index + 1;
  shared.changed.notify_all();
  return body;
}

}  // namespace brivon
