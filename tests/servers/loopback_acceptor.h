// The listening half of the tests' loopback servers: it takes connections on 127.0.0.1 and hands
// each to a handler on a thread of its own, and on Stop() ends them all.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace brivon::testing {

class LoopbackAcceptor {
 public:
  using Handler = std::function<void(SOCKET connection)>;

  LoopbackAcceptor() = default;
  ~LoopbackAcceptor() { Stop(); }
  LoopbackAcceptor(const LoopbackAcceptor&) = delete;
  LoopbackAcceptor& operator=(const LoopbackAcceptor&) = delete;

  // Listens on 127.0.0.1:port (0: any free port). Each connection is closed once its handler returns.
  bool Start(uint16_t port, Handler handler);
  // Takes no further connection; the open ones go on. A handler may call it.
  void StopListening();
  // Stops listening, shuts every open connection down and waits for their handlers.
  void Stop();
  bool stopping() const { return stopping_; }
  uint16_t port() const { return port_; }

 private:
  void AcceptLoop();

  Handler handler_;
  uint16_t port_ = 0;
  std::atomic<SOCKET> listener_{INVALID_SOCKET};
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::vector<SOCKET> openSockets_;
};

}  // namespace brivon::testing
