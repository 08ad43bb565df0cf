// The check-in POST: sends the report to the service and always answers with a reply text,
// either the service's body or an error object of the program's own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/internet_timeouts.h"

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

// Appends one chunk of the answer as text: up to its first zero byte.
void AppendReplyChunk(std::string& reply, const char* data, size_t size);

// POST body to the built-in endpoint.
std::string PostCheckinReport(std::string_view body);

// receiveTimeoutMs: how long a silent service is waited for (Windows' own default unless a test
// asks for less). Past deadlineMs the exchange is given up with the send error text.
std::string PostCheckinReportTo(const CheckinEndpoint& endpoint, std::string_view body,
                                uint64_t maxReplyBytes = kMaxReplyBytes,
                                unsigned long receiveTimeoutMs = kReceiveTimeoutMs,
                                unsigned long deadlineMs = kCheckinDeadlineMs);

}  // namespace brivon
