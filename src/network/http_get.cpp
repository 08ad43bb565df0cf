#include "network/http_get.h"

#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <string_view>
#include <vector>

#include "network/answer_headers.h"
#include "network/deadline_opening.h"
#include "network/internet_handle.h"
#include "network/internet_timeouts.h"
#include "network/proxy_route.h"
#include "network/stall_watch.h"

namespace brivon {
namespace {

// A failure always carries a code: 0 means success to everyone who reads it. Where the system
// gave none, the code says what kind of failure it was.
DWORD NonZeroCode(HttpGetResult result, DWORD error) {
  if (error != 0) return error;
  switch (result) {
    case HttpGetResult::ReadFailed:
    case HttpGetResult::Truncated:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case HttpGetResult::ChunkedBody:
      return ERROR_HTTP_INVALID_HEADER;
    case HttpGetResult::TooLarge:
      return ERROR_FILE_TOO_LARGE;
    case HttpGetResult::SinkRefused:
      return ERROR_WRITE_FAULT;
    case HttpGetResult::DeadlinePassed:
    case HttpGetResult::HeadersTooSlow:
    case HttpGetResult::Stalled:
      return ERROR_INTERNET_TIMEOUT;
    case HttpGetResult::BadEncoding:
      return ERROR_INTERNET_INVALID_OPERATION;
    case HttpGetResult::BadLength:
      return ERROR_HTTP_INVALID_HEADER;
    default:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  }
}

HttpGetOutcome Fail(HttpGetOutcome outcome, HttpGetResult result, DWORD error) {
  outcome.result = result;
  outcome.error = NonZeroCode(result, error);
  return outcome;
}

// Whether a status is taken as an answer. A file only as itself (200) or as a proxy's copy of
// it (203): a part of it (206) or nothing (204, 205) is no file.
bool StatusTaken(DWORD status, const HttpGetOptions& options) {
  if (options.wholeFile) return status == HTTP_STATUS_OK || status == 203;
  return options.acceptAnyStatus || (status >= 200 && status <= 299);
}

// The status line and the announced length of an answer over HTTP; false, with the outcome
// filled in, when the answer cannot be taken.
bool CheckStatus(HINTERNET request, const HttpGetOptions& options, HttpGetOutcome& outcome) {
  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  DWORD index = 0;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, &index)) {
    outcome = Fail(outcome, HttpGetResult::BadStatus, ::GetLastError());
    return false;
  }
  // A connection closed before any status line leaves status 0 under Wine's WinINet: no answer
  // at all, whatever acceptAnyStatus says.
  if (status == 0) {
    outcome = Fail(outcome, HttpGetResult::BadStatus, ERROR_HTTP_INVALID_SERVER_RESPONSE);
    return false;
  }
  outcome.httpStatus = status;
  if (!StatusTaken(status, options)) {
    outcome = Fail(outcome, HttpGetResult::BadStatus, status);
    return false;
  }
  // Chunked and whole cannot be told apart once read: refused before the caller sees a byte.
  if (SaysChunked(request)) {
    outcome = Fail(outcome, HttpGetResult::ChunkedBody, ERROR_HTTP_INVALID_HEADER);
    return false;
  }
  // A compressed file's bytes are not the file's.
  if (options.wholeFile && !SentAsItIs(request)) {
    outcome = Fail(outcome, HttpGetResult::BadEncoding, ERROR_INTERNET_INVALID_OPERATION);
    return false;
  }
  // A length that is no number is neither "no length" (read to the close) nor a size to make room for.
  const LengthHeader length = ReadContentLength(request, outcome.announced);
  if (length == LengthHeader::Bad) {
    outcome.announced = 0;
    outcome = Fail(outcome, HttpGetResult::BadLength, ERROR_HTTP_INVALID_HEADER);
    return false;
  }
  outcome.hasLength = length == LengthHeader::Valid;
  if (options.maxBytes != 0 && outcome.hasLength && outcome.announced > options.maxBytes) {
    outcome = Fail(outcome, HttpGetResult::TooLarge, ERROR_FILE_TOO_LARGE);
    return false;
  }
  return true;
}

// The path and query as they go on the request line: a fragment belongs to the reader and is
// never sent, and letters beyond ASCII travel as their UTF-8 bytes, percent-encoded.
std::wstring RequestTarget(std::wstring_view path, std::wstring_view extra) {
  std::wstring target(path);
  target.append(extra.substr(0, extra.find(L'#')));
  if (target.empty() || target.front() != L'/') target.insert(target.begin(), L'/');
  std::wstring escaped;
  escaped.reserve(target.size());
  for (size_t i = 0; i < target.size(); ++i) {
    const wchar_t c = target[i];
    if (c < 0x80) {
      escaped.push_back(c);
      continue;
    }
    size_t units = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < target.size()) units = 2;  // a surrogate pair
    char bytes[8] = {};
    const int count = ::WideCharToMultiByte(CP_UTF8, 0, target.data() + i, static_cast<int>(units), bytes,
                                            sizeof(bytes), nullptr, nullptr);
    for (int b = 0; b < count; ++b) {
      wchar_t hex[4] = {};
      std::swprintf(hex, 4, L"%%%02X", static_cast<unsigned char>(bytes[b]));
      escaped.append(hex);
    }
    i += units - 1;
  }
  return escaped;
}

// What opening an address came to.
struct Opening {
  bool opened = false;
  bool overHttp = false;  // a web address, or another answered over HTTP by an office's proxy
  DWORD error = 0;
};

Opening OpeningFailed(DWORD error) {
  Opening opening;
  opening.error = error;
  return opening;
}

// Whether an answer came over HTTP: Windows sends an ftp address through an office's proxy, which
// answers it so, with a status to check like any web answer. (Wine's ftp ignores the proxy and
// always answers over ftp.)
bool AnsweredOverHttp(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  DWORD index = 0;
  return ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index) != FALSE;
}

// What InternetOpenUrlW does for http and https, through a connection handle so that the time
// limits apply: the user name and password of the address go to the connection. Other schemes
// go to InternetOpenUrlW itself, with the session's limits. Each handle is handed over before the
// call that waits on the network with it, so that a caller that gives up can close it.
Opening OpenUrl(HINTERNET session, const std::wstring& url, const HttpGetOptions& options, DWORD receiveTimeoutMs,
                bool proxyAskedSignIn, OpeningHandles& handles) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  parts.dwUserNameLength = 1;
  parts.dwPasswordLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  const bool web = ::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) &&
                   (parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS);
  Opening opening;
  UniqueInternet connection;
  if (!web) {
    SetConnectionTimeouts(session, receiveTimeoutMs);
    UniqueInternet request(
        ::InternetOpenUrlW(session, url.c_str(), nullptr, 0, RequestFlags(options, false, proxyAskedSignIn), 0));
    if (!request) return OpeningFailed(::GetLastError());
    opening.overHttp = AnsweredOverHttp(request.get());
    if (!handles.Keep(connection, request)) return OpeningFailed(ERROR_INTERNET_OPERATION_CANCELLED);
    opening.opened = true;
    return opening;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring user(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
  const std::wstring password(parts.lpszPassword ? parts.lpszPassword : L"", parts.dwPasswordLength);
  const std::wstring object =
      RequestTarget(std::wstring_view(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength),
                    std::wstring_view(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength));

  connection.reset(::InternetConnectW(session, host.c_str(), parts.nPort, user.empty() ? nullptr : user.c_str(),
                                      user.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return OpeningFailed(::GetLastError());
  SetConnectionTimeouts(connection.get(), receiveTimeoutMs);
  DWORD flags = RequestFlags(options, !user.empty(), proxyAskedSignIn);
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  // HTTP/1.0: the body's end is then its length or the connection's clean close (see the header).
  UniqueInternet request(
      ::HttpOpenRequestW(connection.get(), L"GET", object.c_str(), L"HTTP/1.0", nullptr, nullptr, flags, 0));
  if (!request) return OpeningFailed(::GetLastError());
  const HINTERNET sending = request.get();
  if (!handles.Keep(connection, request)) return OpeningFailed(ERROR_INTERNET_OPERATION_CANCELLED);
  if (!::HttpSendRequestW(sending, nullptr, 0, nullptr, 0)) return OpeningFailed(::GetLastError());
  opening.opened = true;
  opening.overHttp = true;
  return opening;
}

// Time left for the opening: to the answer's headers' deadline or the whole transfer's, whichever
// comes first; INFINITE without either.
struct OpeningTime {
  DWORD leftMs = INFINITE;
  bool headersBound = false;  // the headers' deadline comes first
};

OpeningTime OpeningTimeLeft(const HttpGetOptions& options, ULONGLONG start) {
  const ULONGLONG spent = ::GetTickCount64() - start;
  OpeningTime time;
  if (options.deadlineMs != 0) {
    time.leftMs = spent < options.deadlineMs ? static_cast<DWORD>(options.deadlineMs - spent) : 0;
  }
  if (options.headersDeadlineMs != 0) {
    const DWORD left = spent < options.headersDeadlineMs ? static_cast<DWORD>(options.headersDeadlineMs - spent) : 0;
    if (left < time.leftMs) {
      time.leftMs = left;
      time.headersBound = true;
    }
  }
  return time;
}

// Time left before the deadline, never more than the receive limit; 0 when it has passed.
DWORD ReceiveLimitWithin(const HttpGetOptions& options, ULONGLONG start) {
  if (options.deadlineMs == 0) return options.receiveTimeoutMs;
  const ULONGLONG spent = ::GetTickCount64() - start;
  if (spent >= options.deadlineMs) return 0;
  const ULONGLONG left = options.deadlineMs - spent;
  return left < options.receiveTimeoutMs ? static_cast<DWORD>(left) : options.receiveTimeoutMs;
}

}  // namespace

void ApplyFileDownloadLimits(HttpGetOptions& options) {
  options.wholeFile = true;
  options.headersDeadlineMs = TestFileHeadersDeadlineMs(kFileHeadersDeadlineMs);
  options.stallWindowMs = TestStallWindowMs(kStallWindowMs);
  options.stallMinBytes = kStallMinBytes;
}

DWORD RequestFlags(const HttpGetOptions& options, bool addressHasUser, bool proxyAskedSignIn) {
  DWORD flags = options.flags;
  if (!options.namedByDocument) return flags;
  flags |= INTERNET_FLAG_NO_COOKIES;
  if (!addressHasUser && !proxyAskedSignIn) flags |= INTERNET_FLAG_NO_AUTH;
  return flags;
}

HttpGetOutcome HttpGet(const std::wstring& url, const HttpGetOptions& options, const HttpBeginFn& begin,
                       const HttpChunkFn& chunk, const HttpProgressFn& progress) {
  HttpGetOutcome outcome;
  UniqueInternet session(::InternetOpenW(options.userAgent, options.accessType, nullptr, nullptr, 0));
  if (!session) return Fail(outcome, HttpGetResult::SessionFailed, ::GetLastError());

  const ULONGLONG start = ::GetTickCount64();

  // Declared in opening order: the request closes before its connection.
  UniqueInternet connection;
  UniqueInternet request;
  bool web = false;        // answered over HTTP: a status and headers to check
  DWORD receiveSet = 0;    // the receive limit the request has
  for (bool proxyAskedSignIn = false;; proxyAskedSignIn = true) {
    request.reset();
    connection.reset();
    const OpeningTime time = OpeningTimeLeft(options, start);
    const DWORD openLimit = time.leftMs < options.receiveTimeoutMs ? time.leftMs : options.receiveTimeoutMs;
    const HttpGetResult late = time.headersBound ? HttpGetResult::HeadersTooSlow : HttpGetResult::DeadlinePassed;
    // Copies: the opening may outlive this call.
    const OpeningFn<Opening> open = [url, options, openLimit, proxyAskedSignIn](HINTERNET openSession,
                                                                               OpeningHandles& handles) {
      return OpenUrl(openSession, url, options, openLimit, proxyAskedSignIn, handles);
    };
    Opening opening;
    if (time.leftMs == INFINITE) {
      opening = OpenHere(session.get(), open, connection, request);
    } else if (OpenWithin(session, open, time.leftMs, connection, request, opening) == OpeningWait::DeadlinePassed) {
      return Fail(outcome, late, ERROR_INTERNET_TIMEOUT);
    }
    if (!opening.opened) {
      // A wait that failed because it was cut short to the time left is the deadline's doing.
      if (OpeningTimeLeft(options, start).leftMs == 0 ||
          (openLimit < options.receiveTimeoutMs && opening.error == ERROR_INTERNET_TIMEOUT)) {
        return Fail(outcome, late, ERROR_INTERNET_TIMEOUT);
      }
      return Fail(outcome, HttpGetResult::OpenFailed, opening.error);
    }
    web = opening.overHttp;
    receiveSet = openLimit;
    if (!web) break;
    // The sign-in statuses come first, whatever status the caller takes as an answer.
    const bool taken = CheckStatus(request.get(), options, outcome);
    const DWORD status = outcome.httpStatus;
    if (!proxyAskedSignIn && options.namedByDocument && status == HTTP_STATUS_PROXY_AUTH_REQ &&
        RequestWentThroughProxy(session.get(), request.get(), url)) {
      // The office's proxy wants the person signed in: once more, with the system's sign-in.
      outcome = HttpGetOutcome{};
      outcome.signInRetried = true;
      continue;
    }
    // After the retry a 401 is the server's own call for sign-in, and a 407 the proxy's refusal:
    // neither is an answer, whatever the caller takes.
    if (proxyAskedSignIn && (status == HTTP_STATUS_DENIED || status == HTTP_STATUS_PROXY_AUTH_REQ)) {
      return Fail(outcome, HttpGetResult::BadStatus, status);
    }
    if (taken) break;
    return outcome;
  }

  DWORD error = 0;
  if (begin && !begin(outcome.announced, outcome.hasLength, error)) {
    return Fail(outcome, HttpGetResult::SinkRefused, error);
  }
  // The size is known before the first read returns, which on a slow line takes a while.
  if (progress && outcome.hasLength) progress(0, outcome.announced);

  const DWORD largest = options.largestChunkSize > options.chunkSize ? options.largestChunkSize : options.chunkSize;
  std::vector<char> buffer(largest);
  DWORD readSize = options.chunkSize;
  // What arrives gathers in buffer up to readSize, as one blocking read of readSize would gather
  // it: the sink hears of it then, and how fast it filled sets the next size.
  DWORD filled = 0;
  uint64_t received = 0;
  ULONGLONG fillStart = ::GetTickCount64();
  StallWatch stall(options.stallWindowMs, options.stallMinBytes, fillStart);
  auto handOver = [&]() {
    if (filled == 0) return true;
    outcome.bytes += filled;
    const bool taken = !chunk || chunk(buffer.data(), filled, error);
    filled = 0;
    if (taken && progress) progress(outcome.bytes, outcome.hasLength ? outcome.announced : 0);
    return taken;
  };
  // A failed read or wait: what arrived before it still reaches the sink.
  auto failAfter = [&](HttpGetResult result, DWORD failure) {
    if (!handOver()) return Fail(outcome, HttpGetResult::SinkRefused, error);
    return Fail(outcome, result, failure);
  };
  // A server that sends a byte now and then must hold the transfer neither past its deadline nor
  // past the stall rule: with either, each wait is cut to what they leave, and a read takes only
  // what has arrived, since a read waits until its buffer is full.
  const bool waitFirst = options.deadlineMs != 0 || options.stallWindowMs != 0;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (stall.StalledBy(now)) return failAfter(HttpGetResult::Stalled, ERROR_INTERNET_TIMEOUT);
    DWORD receive = ReceiveLimitWithin(options, start);
    if (receive == 0) return failAfter(HttpGetResult::DeadlinePassed, ERROR_INTERNET_TIMEOUT);
    const DWORD stallLimit = stall.WaitLimit(now);
    const bool stallFirst = stallLimit < receive;
    if (stallFirst) receive = stallLimit > 0 ? stallLimit : 1;
    if (receive != receiveSet) {
      ::InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
      receiveSet = receive;
    }
    // A wait cut short to what the deadline or the stall rule leaves, and ended by it, is theirs;
    // one that ran the whole receive limit met a silent server.
    auto failed = [&](DWORD failure) {
      const bool cutShort = failure == ERROR_INTERNET_TIMEOUT && receive < options.receiveTimeoutMs;
      if (ReceiveLimitWithin(options, start) == 0 || (cutShort && !stallFirst)) {
        return failAfter(HttpGetResult::DeadlinePassed, ERROR_INTERNET_TIMEOUT);
      }
      if (cutShort) return failAfter(HttpGetResult::Stalled, ERROR_INTERNET_TIMEOUT);
      return failAfter(HttpGetResult::ReadFailed, failure);
    };
    DWORD wanted = readSize - filled;
    if (waitFirst) {
      DWORD available = 0;
      if (!::InternetQueryDataAvailable(request.get(), &available, 0, 0)) return failed(::GetLastError());
      if (available == 0) break;
      if (available < wanted) wanted = available;
    }
    DWORD read = 0;
    if (!::InternetReadFile(request.get(), buffer.data() + filled, wanted, &read)) return failed(::GetLastError());
    if (read == 0) break;
    received += read;
    stall.Count(read);
    if (options.maxBytes != 0 && received > options.maxBytes) {
      return Fail(outcome, HttpGetResult::TooLarge, ERROR_FILE_TOO_LARGE);
    }
    filled += read;
    if (filled == readSize) {
      const DWORD fillMs = static_cast<DWORD>(::GetTickCount64() - fillStart);
      if (!handOver()) return Fail(outcome, HttpGetResult::SinkRefused, error);
      readSize = NextReadSize(readSize, fillMs, options.chunkSize, largest);
      fillStart = ::GetTickCount64();
    }
  }
  if (!handOver()) return Fail(outcome, HttpGetResult::SinkRefused, error);
  if (outcome.hasLength && outcome.bytes < outcome.announced) {
    return Fail(outcome, HttpGetResult::Truncated, ERROR_INTERNET_CONNECTION_ABORTED);
  }
  outcome.result = HttpGetResult::Complete;
  return outcome;
}

DWORD NextReadSize(DWORD size, DWORD elapsedMs, DWORD least, DWORD most) {
  uint64_t next = size;
  if (elapsedMs < 250) next = uint64_t{size} * 2;
  if (elapsedMs > 500) next = size / 2;
  if (next < least) next = least;
  if (next > most) next = most;
  return static_cast<DWORD>(next);
}

HttpGetOutcome HttpGetToString(const std::wstring& url, const HttpGetOptions& options, std::string& body) {
  body.clear();
  return HttpGet(url, options, nullptr, [&body](const char* data, size_t size, DWORD&) {
    body.append(data, size);
    return true;
  });
}

}  // namespace brivon
