// One GET over WinINet, streamed chunk by chunk into a caller's sink. Any scheme WinINet opens;
// the user name and password of an address go to the connection.
// Checked where the bytes arrive: for an answer over HTTP (http and https, and another scheme an
// office's proxy answers) a non-2xx status, a Content-Length that is no number, a body shorter than
// its Content-Length and a body in chunks (in any Transfer-Encoding header); for a whole file also
// any status but 200 and 203 and a Content-Encoding other than identity; for every scheme a failed
// read, a body over the caller's cap, a transfer past the caller's deadline, headers past their
// own deadline and a body that stalls are failures of their own. Other answers have no status to
// check.
// A body counts as whole only when its end is known: its Content-Length reached, or, without one,
// the connection closed cleanly (a reset is a failed read). WinINet does not tell a chunked body
// whose connection closed before its last chunk from a whole one (Wine's reads end with TRUE and
// no bytes, the same as at the zero-size chunk), so requests go out as HTTP/1.0, to which a server
// may not answer in chunks; an answer in chunks all the same is refused before its first byte.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/test_hooks.h"
#include "network/internet_timeouts.h"

namespace brivon {

enum class HttpGetResult {
  Complete,
  SessionFailed,  // InternetOpen failed
  OpenFailed,     // the URL could not be opened: bad address, refused, unreachable
  BadStatus,      // the server answered with a status outside 200-299 (a whole file: other than 200, 203)
  ReadFailed,     // a read failed mid-way
  Truncated,      // the transfer ended before the announced Content-Length
  ChunkedBody,    // the body came in chunks, whose end WinINet never confirms (error 12153)
  TooLarge,       // the body passed the caller's cap
  SinkRefused,    // the caller's begin or chunk callback failed
  DeadlinePassed, // the whole transfer took longer than the caller's deadline
  HeadersTooSlow, // the answer's status line and headers did not arrive within headersDeadlineMs
  Stalled,        // the body brought less than stallMinBytes within stallWindowMs
  BadEncoding,    // a file sent in a Content-Encoding other than identity: its bytes are not the file's
  BadLength,      // a Content-Length that is no length (negative, not a number, too long to be one)
};

struct HttpGetOptions {
  const wchar_t* userAgent = L"Brivon";
  DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
  DWORD flags = 0;
  DWORD chunkSize = 64 * 1024;
  // Above chunkSize: each read may grow up to this while the body arrives fast, and shrinks back
  // towards chunkSize when it slows down (NextReadSize). 0: every read is chunkSize.
  DWORD largestChunkSize = 0;
  uint64_t maxBytes = 0;  // 0: no cap
  bool acceptAnyStatus = false;
  // A server silent this long fails the transfer.
  DWORD receiveTimeoutMs = TestReceiveLimitMs(kReceiveTimeoutMs);
  DWORD deadlineMs = 0;  // the whole transfer, from opening the address to the last byte; 0: none
  // An address a downloaded document names (a picture, terms, a package): the document travels
  // over plain HTTP, so anyone on the way may name any host. Such a request sends no stored
  // cookies and never signs in with the person's Windows account (NTLM, Negotiate) on its own.
  bool namedByDocument = false;
  // A file that must arrive whole and as it was published (a package, the archive tool): only
  // status 200 and 203 are taken, and a body in a Content-Encoding other than identity is refused.
  bool wholeFile = false;
  // From opening the address to the answer's headers in (connecting, the request out, the status
  // line and headers); 0: none. Apart from deadlineMs, which holds the whole transfer.
  DWORD headersDeadlineMs = 0;
  // The body fails as Stalled once less than stallMinBytes arrived within stallWindowMs; 0: no rule.
  // A line that sends a byte now and then never trips the receive limit, which each byte restarts.
  DWORD stallWindowMs = 0;
  uint64_t stallMinBytes = 0;
};

// The limits of a file download that has no deadline of its own (a package, the archive tool): its
// headers within two minutes, and at least 64 KiB in every two minutes of its body. The test build
// may shorten both (TestFileHeadersDeadlineMs, TestStallWindowMs).
inline constexpr DWORD kFileHeadersDeadlineMs = 2 * 60 * 1000;
inline constexpr DWORD kStallWindowMs = 2 * 60 * 1000;
inline constexpr uint64_t kStallMinBytes = 64 * 1024;

// options with the limits above: wholeFile, the headers' deadline and the stall rule.
void ApplyFileDownloadLimits(HttpGetOptions& options);

// The request flags of one GET: options.flags, and for an address a document names no cookies
// and no automatic sign-in, unless the address carries its own user name (its server's challenge
// then gets those, never the person's account) or the office's proxy asked for sign-in (407) and
// this is the request made again for it.
DWORD RequestFlags(const HttpGetOptions& options, bool addressHasUser, bool proxyAskedSignIn);

// A read returns only once its buffer is full (or the body ends); where the wait is cut short, what
// has arrived gathers to the same size. The size of the next read, after a full read of size that
// took elapsedMs: twice as large while one fills within a quarter of a second (a fast line: fewer,
// larger reads), half as large once one takes over half a second (a slow line: the caller still
// hears of progress), never outside least..most.
DWORD NextReadSize(DWORD size, DWORD elapsedMs, DWORD least, DWORD most);

struct HttpGetOutcome {
  HttpGetResult result = HttpGetResult::SessionFailed;
  DWORD error = 0;          // system/WinINet error of the failing step, or the HTTP status for BadStatus;
                            // never 0 on failure (a reply without a status line: 12152; DeadlinePassed,
                            // HeadersTooSlow, Stalled: 12002; BadEncoding: 12016; BadLength: 12153)
  DWORD httpStatus = 0;     // 0 when no answer arrived, and for an answer not over HTTP
  uint64_t bytes = 0;       // body bytes handed to the sink
  uint64_t announced = 0;   // Content-Length, when the server sent one
  bool hasLength = false;
  // The office's proxy asked for sign-in (407) and the request was made once more, with the
  // person's Windows sign-in: the caller may say so beside a failure.
  bool signInRetried = false;

  bool ok() const { return result == HttpGetResult::Complete; }
};

// Called once the answer's status is accepted, before any byte is read; false aborts
// (set error). Gets the announced length (0 when none).
using HttpBeginFn = std::function<bool(uint64_t announced, bool hasLength, DWORD& error)>;
// Called for every chunk; false aborts (set error).
using HttpChunkFn = std::function<bool(const char* data, size_t size, DWORD& error)>;
// Called after every chunk with the bytes so far and the announced total (0 when unknown).
using HttpProgressFn = std::function<void(uint64_t soFar, uint64_t total)>;

HttpGetOutcome HttpGet(const std::wstring& url, const HttpGetOptions& options, const HttpBeginFn& begin,
                       const HttpChunkFn& chunk, const HttpProgressFn& progress = {});

// Whole body in memory, bounded by options.maxBytes.
HttpGetOutcome HttpGetToString(const std::wstring& url, const HttpGetOptions& options, std::string& body);

}  // namespace brivon
