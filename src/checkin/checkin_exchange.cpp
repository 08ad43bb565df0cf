#include "checkin/checkin_exchange.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "build_config.h"
#include "common/test_hooks.h"
#include "network/answer_headers.h"
#include "network/deadline_opening.h"
#include "network/internet_handle.h"
#include "network/internet_timeouts.h"

namespace brivon {
namespace {

constexpr wchar_t kUserAgent[] = L"ComprobadorOrvane/1.0";
constexpr wchar_t kJsonHeader[] = L"Content-Type: application/json\r\n";
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// Connection, request and send (connecting, the body out, the answer's headers in), each handle
// handed over before the send blocks on it, so that a caller who gives up can close it. Null when
// sent, else the error text of the step that failed.
const char* SendReport(HINTERNET session, const CheckinEndpoint& endpoint, std::string_view body,
                       DWORD receiveTimeoutMs, OpeningHandles& handles) {
  UniqueInternet connection(::InternetConnectW(session, endpoint.host.c_str(), endpoint.port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return kErrorConnectText;
  SetConnectionTimeouts(connection.get(), receiveTimeoutMs);
  UniqueInternet request(::HttpOpenRequestW(connection.get(), L"POST", endpoint.path.c_str(), nullptr, nullptr,
                                            nullptr, kRequestFlags, 0));
  if (!request) return kErrorRequestText;
  const HINTERNET sending = request.get();
  if (!handles.Keep(connection, request)) return kErrorSendText;
  if (!::HttpSendRequestW(sending, kJsonHeader, static_cast<DWORD>(std::wcslen(kJsonHeader)),
                          const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
    return kErrorSendText;
  }
  return nullptr;
}

// The length the body must reach. A body in chunks has none: its Content-Length, if any, does not
// count (WinINet reads the chunks), and its end is taken as WinINet reports it.
struct AnnouncedLength {
  bool present = false;
  bool valid = true;
  uint64_t bytes = 0;
};

AnnouncedLength ReadAnnouncedLength(HINTERNET request) {
  AnnouncedLength length;
  if (SaysChunked(request)) return length;
  switch (ReadContentLength(request, length.bytes)) {
    case LengthHeader::None:
      break;
    case LengthHeader::Valid:
      length.present = true;
      break;
    case LengthHeader::Bad:
      length.present = true;
      length.valid = false;
      break;
  }
  return length;
}

// Runs its work at the first call, or at its end when never called.
class RunOnce {
 public:
  explicit RunOnce(const WhileSending& work) : work_(work) {}
  ~RunOnce() { (*this)(); }
  RunOnce(const RunOnce&) = delete;
  RunOnce& operator=(const RunOnce&) = delete;
  void operator()() noexcept {
    if (done_ || !work_) return;
    done_ = true;
    try {
      work_();
    } catch (...) {
      // Out of memory: the caller's work is its own, and never ends the exchange.
    }
  }

 private:
  const WhileSending& work_;
  bool done_ = false;
};

// Time left before the deadline; 0 once it has passed.
DWORD TimeLeft(ULONGLONG start, DWORD deadlineMs) {
  const ULONGLONG spent = ::GetTickCount64() - start;
  return spent >= deadlineMs ? 0 : static_cast<DWORD>(deadlineMs - spent);
}

}  // namespace

CheckinEndpoint BuiltInCheckinEndpoint() {
  return {BRIVON_CHECKIN_HOST, TestBuiltInPort(static_cast<unsigned short>(BRIVON_CHECKIN_PORT)), BRIVON_CHECKIN_PATH};
}

void AppendReplyChunk(std::string& reply, const char* data, size_t size) {
  const void* zero = std::memchr(data, 0, size);
  reply.append(data, zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : size);
}

std::string PostCheckinReport(std::string_view body, ReplyCut* cut, const WhileSending& meanwhile) {
  return PostCheckinReportTo(BuiltInCheckinEndpoint(), body, kMaxReplyBytes, kReceiveTimeoutMs,
                             TestCheckinDeadlineMs(kCheckinDeadlineMs), cut, meanwhile);
}

std::string PostCheckinReportTo(const CheckinEndpoint& endpoint, std::string_view body, uint64_t maxReplyBytes,
                                unsigned long receiveTimeoutMs, unsigned long deadlineMs, ReplyCut* cutOut,
                                const WhileSending& meanwhile) {
  RunOnce once(meanwhile);
  ReplyCut ignored;
  ReplyCut& cut = cutOut ? *cutOut : ignored;
  cut = {};
  const ULONGLONG start = ::GetTickCount64();
  // Declared in opening order: they close request, connection, session. The system's settings:
  // an office that reaches the web only through its proxy checks in through it.
  UniqueInternet session(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return kErrorSessionText;
  UniqueInternet connection;
  UniqueInternet request;
  // The send on a thread of its own, so that the deadline holds while connecting and while the
  // answer's headers arrive. Copies: the send may outlive this call.
  OpeningFn<const char*> send = [endpoint, report = std::string(body), receiveTimeoutMs](HINTERNET sendSession,
                                                                                         OpeningHandles& handles) {
    return SendReport(sendSession, endpoint, report, receiveTimeoutMs, handles);
  };
  const char* failure = nullptr;
  if (OpenWithin(session, send, TimeLeft(start, deadlineMs), connection, request, failure, std::ref(once)) ==
      OpeningWait::DeadlinePassed) {
    return kErrorSendText;
  }
  if (failure) return failure;
  const AnnouncedLength length = ReadAnnouncedLength(request.get());
  if (!length.valid) {
    cut.kind = ReplyCutKind::BadLength;
    return kErrorSendText;
  }

  // Any status is taken: the service's error pages are stored like its documents. Each chunk is
  // gathered to kReplyBufferSize - 1 bytes as one blocking read would, but from what has arrived,
  // every wait cut to the time left: a byte now and then must not stretch the exchange.
  std::string reply;
  uint64_t received = 0;
  char buffer[kReplyBufferSize];
  DWORD filled = 0;
  for (;;) {
    const DWORD left = TimeLeft(start, deadlineMs);
    if (left == 0) return kErrorSendText;
    DWORD receive = std::min<DWORD>(left, receiveTimeoutMs);
    ::InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
    // A wait that failed because it was cut short to the time left is the deadline's doing; any
    // other failure cut the body, and what arrived of it is no reply.
    auto failedRead = [&](DWORD error) {
      const bool deadline =
          TimeLeft(start, deadlineMs) == 0 || (receive < receiveTimeoutMs && error == ERROR_INTERNET_TIMEOUT);
      if (!deadline) {
        cut = {ReplyCutKind::ReadFailed, received, 0, error != 0 ? error : DWORD(ERROR_INTERNET_CONNECTION_ABORTED)};
      }
      return std::string(kErrorSendText);
    };
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(request.get(), &available, 0, 0)) return failedRead(::GetLastError());
    if (available == 0) break;
    DWORD read = 0;
    const DWORD wanted = std::min<DWORD>(available, kReplyBufferSize - 1 - filled);
    if (!::InternetReadFile(request.get(), buffer + filled, wanted, &read)) return failedRead(::GetLastError());
    if (read == 0) break;
    received += read;
    if (received > maxReplyBytes) return kErrorTooLargeText;
    filled += read;
    if (filled == kReplyBufferSize - 1) {
      AppendReplyChunk(reply, buffer, filled);
      filled = 0;
    }
  }
  // WinINet ends a body whose connection closed early as it ends a whole one.
  if (length.present && received < length.bytes) {
    cut = {ReplyCutKind::ShortOfLength, received, length.bytes, 0};
    return kErrorSendText;
  }
  AppendReplyChunk(reply, buffer, filled);
  return reply.empty() ? std::string(kErrorEmptyText) : reply;
}

}  // namespace brivon
