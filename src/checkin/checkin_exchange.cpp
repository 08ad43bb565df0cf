#include "checkin/checkin_exchange.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>

#include "build_config.h"
#include "common/internet_timeouts.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

constexpr wchar_t kUserAgent[] = L"ComprobadorOrvane/1.0";
constexpr wchar_t kJsonHeader[] = L"Content-Type: application/json\r\n";
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

}  // namespace

CheckinEndpoint BuiltInCheckinEndpoint() {
  return {BRIVON_CHECKIN_HOST, static_cast<unsigned short>(BRIVON_CHECKIN_PORT), BRIVON_CHECKIN_PATH};
}

void AppendReplyChunk(std::string& reply, const char* data, size_t size) {
  const void* zero = std::memchr(data, 0, size);
  reply.append(data, zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : size);
}

std::string PostCheckinReport(std::string_view body) { return PostCheckinReportTo(BuiltInCheckinEndpoint(), body); }

std::string PostCheckinReportTo(const CheckinEndpoint& endpoint, std::string_view body, uint64_t maxReplyBytes,
                                unsigned long receiveTimeoutMs) {
  // Declared in opening order: they close request, connection, session. The system's settings:
  // an office that reaches the web only through its proxy checks in through it.
  UniqueInternet session(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return kErrorSessionText;

  UniqueInternet connection(::InternetConnectW(session.get(), endpoint.host.c_str(), endpoint.port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return kErrorConnectText;
  SetConnectionTimeouts(connection.get(), receiveTimeoutMs);

  UniqueInternet request(::HttpOpenRequestW(connection.get(), L"POST", endpoint.path.c_str(), nullptr, nullptr,
                                            nullptr, kRequestFlags, 0));
  if (!request) return kErrorRequestText;

  if (!::HttpSendRequestW(request.get(), kJsonHeader, static_cast<DWORD>(std::wcslen(kJsonHeader)),
                          const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
    return kErrorSendText;
  }

  // Any status is taken: the service's error pages are stored like its documents.
  std::string reply;
  uint64_t received = 0;
  char buffer[kReplyBufferSize];
  for (;;) {
    DWORD read = 0;
    if (!::InternetReadFile(request.get(), buffer, kReplyBufferSize - 1, &read) || read == 0) break;
    received += read;
    if (received > maxReplyBytes) return kErrorTooLargeText;
    AppendReplyChunk(reply, buffer, read);
  }
  return reply.empty() ? std::string(kErrorEmptyText) : reply;
}

}  // namespace brivon
