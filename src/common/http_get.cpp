#include "common/http_get.h"

#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string_view>
#include <vector>

#include "common/internet_timeouts.h"
#include "common/opening_within.h"
#include "common/proxy_route.h"
#include "common/unique_handle.h"

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
    default:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  }
}

HttpGetOutcome Fail(HttpGetOutcome outcome, HttpGetResult result, DWORD error) {
  outcome.result = result;
  outcome.error = NonZeroCode(result, error);
  return outcome;
}

bool QueryContentLength(HINTERNET request, uint64_t& length) {
  wchar_t text[32] = {};
  DWORD size = sizeof(text);
  DWORD index = 0;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) return false;
  wchar_t* end = nullptr;
  unsigned long long value = std::wcstoull(text, &end, 10);
  if (end == text) return false;
  length = value;
  return true;
}

// Whether the answer's body comes in chunks (Transfer-Encoding: chunked, alone or last).
bool IsChunked(HINTERNET request) {
  std::wstring text(64, L'\0');
  DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  DWORD index = 0;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_TRANSFER_ENCODING, &text[0], &size, &index)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    text.assign(size / sizeof(wchar_t) + 1, L'\0');
    index = 0;
    if (!::HttpQueryInfoW(request, HTTP_QUERY_TRANSFER_ENCODING, &text[0], &size, &index)) return true;
  }
  text.resize(size / sizeof(wchar_t));
  for (wchar_t& c : text) c = static_cast<wchar_t>(::towlower(c));
  return text.find(L"chunked") != std::wstring::npos;
}

// The status line and the announced length of an http or https answer; false, with the outcome
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
  if (!options.acceptAnyStatus && (status < 200 || status > 299)) {
    outcome = Fail(outcome, HttpGetResult::BadStatus, status);
    return false;
  }
  // Chunked and whole cannot be told apart once read: refused before the caller sees a byte.
  if (IsChunked(request)) {
    outcome = Fail(outcome, HttpGetResult::ChunkedBody, ERROR_HTTP_INVALID_HEADER);
    return false;
  }
  outcome.hasLength = QueryContentLength(request, outcome.announced);
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

// What InternetOpenUrlW does for http and https, through a connection handle so that the time
// limits apply: the user name and password of the address go to the connection. Other schemes
// go to InternetOpenUrlW itself, with the session's limits.
bool OpenUrl(HINTERNET session, const std::wstring& url, const HttpGetOptions& options, DWORD receiveTimeoutMs,
             bool& web, UniqueInternet& connection, UniqueInternet& request, bool proxyAskedSignIn = false) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  parts.dwUserNameLength = 1;
  parts.dwPasswordLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  web = ::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) &&
        (parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS);
  if (!web) {
    SetConnectionTimeouts(session, receiveTimeoutMs);
    request.reset(::InternetOpenUrlW(session, url.c_str(), nullptr, 0, RequestFlags(options, false, false), 0));
    return static_cast<bool>(request);
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring user(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
  const std::wstring password(parts.lpszPassword ? parts.lpszPassword : L"", parts.dwPasswordLength);
  const std::wstring object =
      RequestTarget(std::wstring_view(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength),
                    std::wstring_view(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength));

  connection.reset(::InternetConnectW(session, host.c_str(), parts.nPort, user.empty() ? nullptr : user.c_str(),
                                      user.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return false;
  SetConnectionTimeouts(connection.get(), receiveTimeoutMs);
  DWORD flags = RequestFlags(options, !user.empty(), proxyAskedSignIn);
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  // HTTP/1.0: the body's end is then its length or the connection's clean close (see the header).
  request.reset(
      ::HttpOpenRequestW(connection.get(), L"GET", object.c_str(), L"HTTP/1.0", nullptr, nullptr, flags, 0));
  if (!request) return false;
  return ::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0) != FALSE;
}

// What opening an address came to, on the thread of its own of a transfer with a deadline.
struct Opening {
  bool opened = false;
  bool web = false;
  DWORD error = 0;
};

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
  // A wait that failed because it was cut short to the time left is the deadline's doing.
  auto pastDeadline = [&](DWORD limitUsed, DWORD error) {
    return ReceiveLimitWithin(options, start) == 0 ||
           (limitUsed < options.receiveTimeoutMs && error == ERROR_INTERNET_TIMEOUT);
  };

  // Declared in opening order: the request closes before its connection.
  UniqueInternet connection;
  UniqueInternet request;
  bool web = false;
  for (bool proxyAskedSignIn = false;; proxyAskedSignIn = true) {
    request.reset();
    connection.reset();
    const DWORD openLimit = ReceiveLimitWithin(options, start);
    DWORD openError = 0;
    bool opened = true;
    if (options.deadlineMs != 0) {
      const ULONGLONG spent = ::GetTickCount64() - start;
      const DWORD left = spent < options.deadlineMs ? static_cast<DWORD>(options.deadlineMs - spent) : 0;
      // Copies: the opening may outlive this call.
      OpeningFn<Opening> open = [url, options, openLimit, proxyAskedSignIn](
                                    HINTERNET openSession, UniqueInternet& openConnection, UniqueInternet& openRequest) {
        Opening opening;
        opening.opened =
            OpenUrl(openSession, url, options, openLimit, opening.web, openConnection, openRequest, proxyAskedSignIn);
        if (!opening.opened) opening.error = ::GetLastError();
        return opening;
      };
      Opening opening;
      if (OpenWithin(session, open, left, connection, request, opening) == OpeningWait::DeadlinePassed) {
        return Fail(outcome, HttpGetResult::DeadlinePassed, ERROR_INTERNET_TIMEOUT);
      }
      opened = opening.opened;
      web = opening.web;
      openError = opening.error;
    } else if (!OpenUrl(session.get(), url, options, openLimit, web, connection, request, proxyAskedSignIn)) {
      opened = false;
      openError = ::GetLastError();
    }
    if (!opened) {
      if (pastDeadline(openLimit, openError)) {
        return Fail(outcome, HttpGetResult::DeadlinePassed, ERROR_INTERNET_TIMEOUT);
      }
      return Fail(outcome, HttpGetResult::OpenFailed, openError);
    }
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
  for (;;) {
    const DWORD limit = ReceiveLimitWithin(options, start);
    if (limit == 0) return Fail(outcome, HttpGetResult::DeadlinePassed, ERROR_INTERNET_TIMEOUT);
    DWORD wanted = readSize;
    if (options.deadlineMs != 0) {
      // A server that sends a byte now and then must not stretch the transfer past its deadline:
      // each wait is cut to the time left, and a read takes only what has arrived, since a
      // read of a whole chunk waits for the whole chunk.
      DWORD receive = limit;
      ::InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
      DWORD available = 0;
      if (!::InternetQueryDataAvailable(request.get(), &available, 0, 0)) {
        const DWORD waitError = ::GetLastError();
        if (pastDeadline(limit, waitError)) return Fail(outcome, HttpGetResult::DeadlinePassed, ERROR_INTERNET_TIMEOUT);
        return Fail(outcome, HttpGetResult::ReadFailed, waitError);
      }
      if (available == 0) break;
      if (available < wanted) wanted = available;
    }
    DWORD read = 0;
    const ULONGLONG readStart = ::GetTickCount64();
    if (!::InternetReadFile(request.get(), buffer.data(), wanted, &read)) {
      const DWORD readError = ::GetLastError();
      if (options.deadlineMs != 0 && pastDeadline(limit, readError)) {
        return Fail(outcome, HttpGetResult::DeadlinePassed, ERROR_INTERNET_TIMEOUT);
      }
      return Fail(outcome, HttpGetResult::ReadFailed, readError);
    }
    if (read == 0) break;
    if (read == readSize) {
      readSize = NextReadSize(readSize, static_cast<DWORD>(::GetTickCount64() - readStart), options.chunkSize, largest);
    }
    outcome.bytes += read;
    if (options.maxBytes != 0 && outcome.bytes > options.maxBytes) {
      return Fail(outcome, HttpGetResult::TooLarge, ERROR_FILE_TOO_LARGE);
    }
    if (chunk && !chunk(buffer.data(), read, error)) return Fail(outcome, HttpGetResult::SinkRefused, error);
    if (progress) progress(outcome.bytes, outcome.hasLength ? outcome.announced : 0);
  }
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
