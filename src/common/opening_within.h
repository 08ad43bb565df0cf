// Opening an address (connecting, the request out, the answer's headers in) on a thread of its
// own, for a transfer with a deadline: a server that sends its headers a byte at a time never
// trips a receive limit, and connecting has a limit of its own. The caller stops waiting at the
// deadline and closes the session, which ends the thread's blocking calls where WinINet allows it;
// where it does not, the thread finishes on its own and frees what is left. Whoever comes second
// under the lock leaves the handles alone: the session, once closed, took its children with it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "common/unique_handle.h"

namespace brivon {

enum class OpeningWait { Done, DeadlinePassed };

// What the opening does with the session: fills connection and request and answers its own
// result. It may outlive the caller, so it holds copies of everything it uses.
template <typename Result>
using OpeningFn = std::function<Result(HINTERNET session, UniqueInternet& connection, UniqueInternet& request)>;

namespace opening_detail {

template <typename Result>
struct Pending {
  std::mutex lock;
  HINTERNET session = nullptr;
  OpeningFn<Result> open;
  UniqueHandle done;
  bool finished = false;
  bool abandoned = false;
  Result result{};
  UniqueInternet connection;
  UniqueInternet request;
};

template <typename Result>
DWORD WINAPI OpenOnItsOwn(LPVOID parameter) {
  std::unique_ptr<std::shared_ptr<Pending<Result>>> held(static_cast<std::shared_ptr<Pending<Result>>*>(parameter));
  Pending<Result>& pending = **held;
  try {
    UniqueInternet connection;
    UniqueInternet request;
    Result result = pending.open(pending.session, connection, request);
    std::lock_guard<std::mutex> hold(pending.lock);
    if (pending.abandoned) {
      // Closed already, with the session.
      connection.release();
      request.release();
      return 0;
    }
    pending.result = std::move(result);
    pending.connection = std::move(connection);
    pending.request = std::move(request);
    pending.finished = true;
    ::SetEvent(pending.done.get());
  } catch (...) {
    // Out of memory: the caller's wait ends at its deadline.
  }
  return 0;
}

}  // namespace opening_detail

// Runs open within waitMs. Done: result, connection and request are the opening's. DeadlinePassed:
// the session has been closed and released from its owner. Without a thread of its own (none can
// be made) the opening runs here, bounded by the connection's limits alone.
template <typename Result>
OpeningWait OpenWithin(UniqueInternet& session, OpeningFn<Result> open, DWORD waitMs, UniqueInternet& connection,
                       UniqueInternet& request, Result& result) {
  auto pending = std::make_shared<opening_detail::Pending<Result>>();
  pending->done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  auto* parameter = pending->done ? new std::shared_ptr<opening_detail::Pending<Result>>(pending) : nullptr;
  UniqueHandle thread;
  if (parameter) {
    pending->session = session.get();
    pending->open = open;
    thread.reset(::CreateThread(nullptr, 0, opening_detail::OpenOnItsOwn<Result>, parameter, 0, nullptr));
    if (!thread) delete parameter;
  }
  if (!thread) {
    result = open(session.get(), connection, request);
    return OpeningWait::Done;
  }
  ::WaitForSingleObject(pending->done.get(), waitMs);
  std::lock_guard<std::mutex> hold(pending->lock);
  if (!pending->finished) {
    pending->abandoned = true;
    ::InternetCloseHandle(session.release());
    return OpeningWait::DeadlinePassed;
  }
  result = std::move(pending->result);
  connection = std::move(pending->connection);
  request = std::move(pending->request);
  return OpeningWait::Done;
}

}  // namespace brivon
