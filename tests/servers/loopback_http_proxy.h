// A plain HTTP forward proxy on 127.0.0.1 for tests: it takes requests in absolute form
// ("GET http://host/path HTTP/1.1"), as a client configured for a proxy sends them, and passes each
// to one loopback server, whatever host it names. Host names that resolve nowhere therefore reach
// the server only through this proxy. Every request's absolute target is recorded. Like an office's
// proxy, it can ask for sign-in (407) before it relays a path.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <map>
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

  // The first request for path (the target's path, without its query) is answered 407 with this
  // Proxy-Authenticate challenge ("Basic realm=\"oficina\"", "NTLM"); the next ones are relayed.
  void AskSignInOnce(const std::string& path, const std::string& challenge);

 private:
  void Relay(SOCKET client);
  // The challenge for a request of this path not yet asked to sign in; empty: relay it.
  std::string TakeChallenge(const std::string& path);

  uint16_t upstreamPort_;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::map<std::string, std::string> challenges_;  // path -> challenge, until asked once
  LoopbackAcceptor acceptor_;  // last: its handlers use the members above until it stops
};

// Sets the prefix's system proxy (the current user's Internet Settings) for as long as it lives,
// and puts back what was there: the proxy server, its bypass list (ProxyOverride: "<local>;10.*"),
// and the connection's flags as an office with a fixed proxy sets them: no configuration script,
// no automatic detection (Windows, and Wine from version 9, take automatic detection as on where
// the connection's settings are missing; Wine 8 reads neither).
class SystemProxySetting {
 public:
  explicit SystemProxySetting(const std::wstring& server, const std::wstring& bypass = L"");
  ~SystemProxySetting();
  SystemProxySetting(const SystemProxySetting&) = delete;
  SystemProxySetting& operator=(const SystemProxySetting&) = delete;

 private:
  struct Saved {
    bool present = false;
    unsigned long type = 0;
    std::vector<unsigned char> data;
  };
  Saved saved_[5];  // one for each value the setting changes, in their order (the .cpp)
  bool madeConnectionsKey_ = false;
};

}  // namespace brivon::testing
