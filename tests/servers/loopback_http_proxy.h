// A plain HTTP forward proxy on 127.0.0.1 for tests: it takes requests in absolute form
// ("GET http://host/path HTTP/1.1"), as a client configured for a proxy sends them, and passes each
// to one loopback server, whatever host it names. Host names that resolve nowhere therefore reach
// the server only through this proxy. Every request's absolute target is recorded.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "servers/loopback_acceptor.h"

namespace brivon::testing {

class LoopbackHttpProxy {
 public:
  explicit LoopbackHttpProxy(uint16_t upstreamPort);
  ~LoopbackHttpProxy();
  LoopbackHttpProxy(const LoopbackHttpProxy&) = delete;
  LoopbackHttpProxy& operator=(const LoopbackHttpProxy&) = delete;

  bool Start();  // on any free port
  void Stop();
  uint16_t port() const { return port_; }

  // "METHOD absolute-target" of every request received, in order.
  std::vector<std::string> Requests() const;

 private:
  void Relay(SOCKET client);

  uint16_t upstreamPort_;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  LoopbackAcceptor acceptor_;  // last: its handlers use the members above until it stops
};

// Sets the prefix's system proxy (the current user's Internet Settings) for as long as it lives,
// and puts back what was there.
class SystemProxySetting {
 public:
  explicit SystemProxySetting(const std::wstring& server);
  ~SystemProxySetting();
  SystemProxySetting(const SystemProxySetting&) = delete;
  SystemProxySetting& operator=(const SystemProxySetting&) = delete;

 private:
  struct Saved {
    bool present = false;
    unsigned long type = 0;
    std::vector<unsigned char> data;
  };
  Saved enable_;
  Saved server_;
};

}  // namespace brivon::testing
