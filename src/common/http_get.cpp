#include "common/http_get.h"

#include <wininet.h>

#include <cwchar>
#include <vector>

#include "common/internet_timeouts.h"
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

// What InternetOpenUrlW does for http and https, through a connection handle so that the time
// limits apply. Other schemes go to InternetOpenUrlW itself.
bool OpenUrl(HINTERNET session, const std::wstring& url, const HttpGetOptions& options, UniqueInternet& connection,
             UniqueInternet& request) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  const bool web = ::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) &&
                   (parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS);
  if (!web) {
    request.reset(::InternetOpenUrlW(session, url.c_str(), nullptr, 0, options.flags, 0));
    return static_cast<bool>(request);
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = L"/";

  connection.reset(::InternetConnectW(session, host.c_str(), parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP,
                                      0, 0));
  if (!connection) return false;
  SetConnectionTimeouts(connection.get(), options.receiveTimeoutMs);
  DWORD flags = options.flags;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  request.reset(::HttpOpenRequestW(connection.get(), L"GET", object.c_str(), nullptr, nullptr, nullptr, flags, 0));
  if (!request) return false;
  return ::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0) != FALSE;
}

}  // namespace

HttpGetOutcome HttpGet(const std::wstring& url, const HttpGetOptions& options, const HttpBeginFn& begin,
                       const HttpChunkFn& chunk, const HttpProgressFn& progress) {
  HttpGetOutcome outcome;
  UniqueInternet session(::InternetOpenW(options.userAgent, options.accessType, nullptr, nullptr, 0));
  if (!session) return Fail(outcome, HttpGetResult::SessionFailed, ::GetLastError());

  // Declared in opening order: the request closes before its connection.
  UniqueInternet connection;
  UniqueInternet request;
  if (!OpenUrl(session.get(), url, options, connection, request)) {
    return Fail(outcome, HttpGetResult::OpenFailed, ::GetLastError());
  }

  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  DWORD index = 0;
  if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                        &index)) {
    return Fail(outcome, HttpGetResult::BadStatus, ::GetLastError());
  }
  // A connection closed before any status line leaves status 0 under Wine's WinINet: no answer
  // at all, whatever acceptAnyStatus says.
  if (status == 0) return Fail(outcome, HttpGetResult::BadStatus, ERROR_HTTP_INVALID_SERVER_RESPONSE);
  outcome.httpStatus = status;
  if (!options.acceptAnyStatus && (status < 200 || status > 299)) {
    return Fail(outcome, HttpGetResult::BadStatus, status);
  }
  outcome.hasLength = QueryContentLength(request.get(), outcome.announced);
  if (options.maxBytes != 0 && outcome.hasLength && outcome.announced > options.maxBytes) {
    return Fail(outcome, HttpGetResult::TooLarge, ERROR_FILE_TOO_LARGE);
  }

  DWORD error = 0;
  if (begin && !begin(outcome.announced, outcome.hasLength, error)) {
    return Fail(outcome, HttpGetResult::SinkRefused, error);
  }

  std::vector<char> buffer(options.chunkSize);
  for (;;) {
    DWORD read = 0;
    if (!::InternetReadFile(request.get(), buffer.data(), options.chunkSize, &read)) {
      return Fail(outcome, HttpGetResult::ReadFailed, ::GetLastError());
    }
    if (read == 0) break;
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

HttpGetOutcome HttpGetToString(const std::wstring& url, const HttpGetOptions& options, std::string& body) {
  body.clear();
  return HttpGet(url, options, nullptr, [&body](const char* data, size_t size, DWORD&) {
    body.append(data, size);
    return true;
  });
}

}  // namespace brivon
