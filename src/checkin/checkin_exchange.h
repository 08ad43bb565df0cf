// The check-in POST: sends the report to the service and always answers with a reply text,
// either the service's body or an error object of the program's own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "network/internet_timeouts.h"

namespace brivon {

// The program's own replies when no usable answer arrives (Windows-1252 text).
inline constexpr char kErrorSessionText[] = "{\"error\": \"No se pudo inicializar WinINet\"}";
inline constexpr char kErrorConnectText[] = "{\"error\": \"No se pudo conectar al servidor\"}";
inline constexpr char kErrorRequestText[] = "{\"error\": \"No se pudo crear la petici\xf3n HTTP\"}";
inline constexpr char kErrorSendText[] = "{\"error\": \"No se pudo enviar la petici\xf3n\"}";
inline constexpr char kErrorEmptyText[] = "{\"error\": \"Respuesta vac\xed" "a del servidor\"}";
inline constexpr char kErrorTooLargeText[] = "{\"error\": \"Respuesta demasiado grande del servidor\"}";

// An answer longer than this is refused, not stored: an endless body would otherwise exhaust the
// 32-bit process. Real alert documents are a few kilobytes.
inline constexpr uint64_t kMaxReplyBytes = 8u * 1024 * 1024;

// The whole exchange, from connecting to the last byte of the reply, ends by then: a service (or
// anything on the plain-HTTP path) that answers a byte at a time restarts WinINet's own limits with
// every byte, and would hold the start, and the folder's lock, for good.
inline constexpr unsigned long kCheckinDeadlineMs = 60 * 1000;

// Each read asks for one byte less than the buffer, which keeps room for a terminating zero.
inline constexpr unsigned long kReplyBufferSize = 4096;

struct CheckinEndpoint {
  std::wstring host;
  unsigned short port = 0;
  std::wstring path;
};

CheckinEndpoint BuiltInCheckinEndpoint();

// An answer whose body was cut, or whose end cannot be known, is no reply: the exchange answers
// with kErrorSendText, as when the service never answered, and says why here for the log.
enum class ReplyCutKind {
  None,
  ShortOfLength,  // the body ended before its Content-Length: the connection closed early
  ReadFailed,     // a read failed mid-way (a reset, a service silent past the receive limit)
  BadLength,      // the Content-Length is no length (negative, not a number): never read
};

struct ReplyCut {
  ReplyCutKind kind = ReplyCutKind::None;
  uint64_t received = 0;    // body bytes read before the cut
  uint64_t announced = 0;   // the Content-Length, for ShortOfLength
  unsigned long error = 0;  // the failed read's error, for ReadFailed; never 0 then
};

// Appends one chunk of the answer as text: up to its first zero byte.
void AppendReplyChunk(std::string& reply, const char* data, size_t size);

// Work of the caller's that runs once on every path of an exchange: while the report is on its
// way where the send has a thread of its own, else before the exchange ends.
using WhileSending = std::function<void()>;

// POST body to the built-in endpoint. cut, when given, tells whether the answer was cut.
std::string PostCheckinReport(std::string_view body, ReplyCut* cut = nullptr, const WhileSending& meanwhile = {});

// receiveTimeoutMs: how long a silent service is waited for (Windows' own default unless a test
// asks for less). Past deadlineMs the exchange is given up with the send error text.
// A body must reach its Content-Length, or end with a clean close where none is announced. A body
// in chunks is taken as it ends: WinINet reads one whose connection closed before its last chunk
// as whole, and the request is HTTP/1.1, to which the service may answer in chunks.
std::string PostCheckinReportTo(const CheckinEndpoint& endpoint, std::string_view body,
                                uint64_t maxReplyBytes = kMaxReplyBytes,
                                unsigned long receiveTimeoutMs = kReceiveTimeoutMs,
                                unsigned long deadlineMs = kCheckinDeadlineMs, ReplyCut* cut = nullptr,
                                const WhileSending& meanwhile = {});

}  // namespace brivon
