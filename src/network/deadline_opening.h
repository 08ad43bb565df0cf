// Opening an address (connecting, the request out, the answer's headers in) on a thread of its
// own, for a transfer with a deadline: a server that sends its headers a byte at a time never
// trips a receive limit, and connecting has a limit of its own. The caller stops waiting at the
// deadline; the thread may go on until its own limits end its blocking call.
// WinINet gives a closed handle's value to the next handle made, lowest first, so neither side may
// close a handle the other can still use: a late call on a closed value lands on another
// transfer's session, connection or request. Hence:
// - the opening hands over each handle it made (OpeningHandles::Keep) before it blocks on it, and
//   stops there, closing what it made, once the caller has given up;
// - the caller, giving up, closes only what was handed over, which ends the blocking call where
//   WinINet allows it;
// - the session stays open until the thread lets go of it: a thread whose caller gave up closes
//   it at its end, and the caller only releases it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "common/test_hooks.h"
#include "common/unique_handle.h"
#include "common/worker_thread.h"
#include "network/internet_handle.h"

namespace brivon {

enum class OpeningWait { Done, DeadlinePassed };

// Less time than this left: no opening starts, since none could finish.
inline constexpr DWORD kLeastOpeningMs = 50;

// Where an opening puts the connection and the request it makes, for its caller.
class OpeningHandles {
 public:
  // Takes connection and request (either may be empty). False when the caller gave up meanwhile:
  // both are closed then, and the opening stops without using them.
  bool Keep(UniqueInternet& connection, UniqueInternet& request) {
    std::lock_guard<std::mutex> hold(lock_);
    if (abandoned_) {
      request.reset();
      connection.reset();
      return false;
    }
    if (connection) connection_ = std::move(connection);
    if (request) request_ = std::move(request);
    return true;
  }

  // The caller's side, once the opening is over.
  void HandOver(UniqueInternet& connection, UniqueInternet& request) {
    std::lock_guard<std::mutex> hold(lock_);
    connection = std::move(connection_);
    request = std::move(request_);
  }

  // The thread's side at its end: false when the caller gave up first.
  bool Finish() {
    std::lock_guard<std::mutex> hold(lock_);
    if (abandoned_) return false;
    finished_ = true;
    return true;
  }

  // The caller's side at the deadline: unless the opening finished, it is abandoned and what it
  // handed over is closed (ending its blocking call where WinINet allows it). True when abandoned.
  bool GiveUp() {
    std::lock_guard<std::mutex> hold(lock_);
    if (finished_) return false;
    abandoned_ = true;
    request_.reset();
    connection_.reset();
    return true;
  }

 private:
  std::mutex lock_;
  bool finished_ = false;
  bool abandoned_ = false;
  // Declared in opening order: the request closes before its connection.
  UniqueInternet connection_;
  UniqueInternet request_;
};

// What the opening does with the session: makes the connection and the request, hands them over,
// and answers its own result. It may outlive the caller, so it holds copies of everything it uses.
template <typename Result>
using OpeningFn = std::function<Result(HINTERNET session, OpeningHandles& handles)>;

// Runs open here and now, bounded by the connection's limits alone.
template <typename Result>
Result OpenHere(HINTERNET session, const OpeningFn<Result>& open, UniqueInternet& connection,
                UniqueInternet& request) {
  OpeningHandles handles;
  Result result = open(session, handles);
  handles.HandOver(connection, request);
  return result;
}

namespace opening_detail {

template <typename Result>
struct Pending {
  HINTERNET session = nullptr;
  OpeningFn<Result> open;
  OpeningHandles handles;
  UniqueHandle done;
  bool failed = false;  // the opening threw: no result
  Result result{};
};

template <typename Result>
DWORD WINAPI OpenOnItsOwn(LPVOID parameter) {
  std::unique_ptr<std::shared_ptr<Pending<Result>>> held(static_cast<std::shared_ptr<Pending<Result>>*>(parameter));
  Pending<Result>& pending = **held;
  // The test build can hold the opening until its caller has given up.
  if (const unsigned long holdMs = TestOpeningHoldMs()) ::Sleep(holdMs);
  try {
    pending.result = pending.open(pending.session, pending.handles);
  } catch (...) {
    pending.failed = true;  // out of memory
  }
  // Read by the caller only once it sees the opening finished.
  if (pending.handles.Finish()) {
    ::SetEvent(pending.done.get());
  } else {
    ::InternetCloseHandle(pending.session);  // the caller gave up and left it to this thread
  }
  return 0;
}

}  // namespace opening_detail

// Runs open within waitMs, and meanwhile (when given) here while it is on its way: after its thread
// started, or before it runs here. Done: result, connection and request are the opening's.
// DeadlinePassed: there was no time to start, the opening failed to finish in time (its session is
// then released from its owner: the opening closes it at its end), or it threw. Without a thread of
// its own (none can be made) the opening runs here, bounded by the connection's limits alone.
template <typename Result>
OpeningWait OpenWithin(UniqueInternet& session, const OpeningFn<Result>& open, DWORD waitMs,
                       UniqueInternet& connection, UniqueInternet& request, Result& result,
                       const std::function<void()>& meanwhile = {}) {
  if (waitMs < kLeastOpeningMs) return OpeningWait::DeadlinePassed;
  auto pending = std::make_shared<opening_detail::Pending<Result>>();
  pending->done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle thread;
  if (pending->done) {
    pending->session = session.get();
    pending->open = open;
    thread = StartWorkerThread(opening_detail::OpenOnItsOwn<Result>,
                               std::make_unique<std::shared_ptr<opening_detail::Pending<Result>>>(pending));
  }
  const ULONGLONG began = ::GetTickCount64();
  if (meanwhile) meanwhile();
  if (!thread) {
    result = OpenHere(session.get(), open, connection, request);
    return OpeningWait::Done;
  }
  const ULONGLONG spent = ::GetTickCount64() - began;  // the deadline counts that work too
  ::WaitForSingleObject(pending->done.get(), spent >= waitMs ? 0 : static_cast<DWORD>(waitMs - spent));
  if (pending->handles.GiveUp()) {
    session.release();
    return OpeningWait::DeadlinePassed;
  }
  // Finished: the thread no longer touches the session or the handles, which close here, before
  // the session, even when the opening threw.
  pending->handles.HandOver(connection, request);
  if (pending->failed) return OpeningWait::DeadlinePassed;
  result = std::move(pending->result);
  return OpeningWait::Done;
}

}  // namespace brivon
