#include "common/http_get.h"

#include <wininet.h>

#include <cwchar>
#include <vector>

#include "common/unique_handle.h"

namespace brivon {
namespace {

HttpGetOutcome Fail(HttpGetOutcome outcome, HttpGetResult result, DWORD error) {
  outcome.result = result;
  outcome.error = error;
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

}  // namespace

HttpGetOutcome HttpGet(const std::wstring& url, const HttpGetOptions& options, const HttpBeginFn& begin,
                       const HttpChunkFn& chunk, const HttpProgressFn& progress) {
  HttpGetOutcome outcome;
  UniqueInternet session(::InternetOpenW(options.userAgent, options.accessType, nullptr, nullptr, 0));
  if (!session) return Fail(outcome, HttpGetResult::SessionFailed, ::GetLastError());

  UniqueInternet request(::InternetOpenUrlW(session.get(), url.c_str(), nullptr, 0, options.flags, 0));
  if (!request) return Fail(outcome, HttpGetResult::OpenFailed, ::GetLastError());

  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  DWORD index = 0;
  if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                        &index)) {
    return Fail(outcome, HttpGetResult::BadStatus, ::GetLastError());
  }
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
