#include "servers/loopback_acceptor.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <utility>

namespace brivon::testing {

bool LoopbackAcceptor::Start(uint16_t port, Handler handler) {
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return false;
  BOOL exclusive = TRUE;
  ::setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof(exclusive));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  // A port just freed by an earlier test may linger a moment: retry the bind briefly.
  bool bound = false;
  for (int attempt = 0; attempt < 50 && !bound; ++attempt) {
    bound = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    if (!bound) ::Sleep(100);
  }
  if (!bound || ::listen(listener, SOMAXCONN) != 0) {
    ::closesocket(listener);
    return false;
  }
  int length = sizeof(address);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  handler_ = std::move(handler);
  stopping_ = false;
  listener_ = listener;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void LoopbackAcceptor::StopListening() {
  stopping_ = true;
  const SOCKET listener = listener_.exchange(INVALID_SOCKET);
  if (listener != INVALID_SOCKET) ::closesocket(listener);  // wakes the accept loop
}

void LoopbackAcceptor::Stop() {
  StopListening();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (SOCKET s : openSockets_) ::shutdown(s, SD_BOTH);
    workers.swap(workers_);
  }
  for (auto& worker : workers) worker.join();
}

void LoopbackAcceptor::AcceptLoop() {
  while (!stopping_) {
    const SOCKET listener = listener_;
    if (listener == INVALID_SOCKET) break;
    SOCKET client = ::accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    openSockets_.push_back(client);
    workers_.emplace_back([this, client] {
      handler_(client);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        openSockets_.erase(std::remove(openSockets_.begin(), openSockets_.end(), client), openSockets_.end());
      }
      ::closesocket(client);
    });
  }
}

}  // namespace brivon::testing
