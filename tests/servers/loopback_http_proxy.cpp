#include "servers/loopback_http_proxy.h"

#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>

namespace brivon::testing {
namespace {

constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

bool SendAll(SOCKET s, const char* data, size_t size) {
  while (size > 0) {
    const int sent = ::send(s, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Copies from one socket to the other until the sender is done, then passes the end on.
void Pump(SOCKET from, SOCKET to) {
  char buffer[16384];
  for (;;) {
    const int got = ::recv(from, buffer, sizeof(buffer), 0);
    if (got <= 0 || !SendAll(to, buffer, static_cast<size_t>(got))) break;
  }
  ::shutdown(to, SD_SEND);
}

}  // namespace

LoopbackHttpProxy::LoopbackHttpProxy(uint16_t upstreamPort) : upstreamPort_(upstreamPort) {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
}

LoopbackHttpProxy::~LoopbackHttpProxy() {
  Stop();
  ::WSACleanup();
}

bool LoopbackHttpProxy::Start() {
  if (!acceptor_.Start(0, [this](SOCKET client) { Relay(client); })) return false;
  port_ = acceptor_.port();
  return true;
}

void LoopbackHttpProxy::Stop() { acceptor_.Stop(); }

std::vector<std::string> LoopbackHttpProxy::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

// One request per connection, as the loopback server answers each with "Connection: close": the
// request line goes on in origin form, the rest of the bytes as they come, both ways.
void LoopbackHttpProxy::Relay(SOCKET client) {
  std::string head;
  char buffer[16384];
  size_t lineEnd = std::string::npos;
  while ((lineEnd = head.find("\r\n")) == std::string::npos) {
    const int got = ::recv(client, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    head.append(buffer, static_cast<size_t>(got));
  }
  SOCKET upstream = INVALID_SOCKET;
  if (lineEnd != std::string::npos) {
    const std::string line = head.substr(0, lineEnd);
    const size_t space1 = line.find(' ');
    const size_t space2 = line.find(' ', space1 + 1);
    const std::string method = line.substr(0, space1);
    const std::string target = line.substr(space1 + 1, space2 - space1 - 1);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(method + " " + target);
    }
    const size_t scheme = target.find("://");
    const size_t path = scheme == std::string::npos ? 0 : target.find('/', scheme + 3);
    const std::string origin = path == std::string::npos ? "/" : target.substr(path);
    upstream = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(upstreamPort_);
    if (upstream != INVALID_SOCKET &&
        ::connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
      const std::string rewritten = method + " " + origin + line.substr(space2) + head.substr(lineEnd);
      if (SendAll(upstream, rewritten.data(), rewritten.size())) {
        std::thread up([client, upstream] { Pump(client, upstream); });
        Pump(upstream, client);
        // The answer is over; the client may keep its side open for another request, which this
        // proxy does not take: ending both ways wakes the other pump.
        ::shutdown(client, SD_BOTH);
        up.join();
      }
    }
  }
  if (upstream != INVALID_SOCKET) ::closesocket(upstream);
  ::shutdown(client, SD_BOTH);
}

SystemProxySetting::SystemProxySetting(const std::wstring& server) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return;
  }
  for (auto [name, saved] : {std::pair<const wchar_t*, Saved*>{L"ProxyEnable", &enable_},
                             std::pair<const wchar_t*, Saved*>{L"ProxyServer", &server_}}) {
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      saved->data.resize(size);
      if (::RegQueryValueExW(key, name, nullptr, &type, saved->data.data(), &size) == ERROR_SUCCESS) {
        saved->present = true;
        saved->type = type;
        saved->data.resize(size);
      }
    }
  }
  const DWORD enable = 1;
  ::RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof(enable));
  ::RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
}

SystemProxySetting::~SystemProxySetting() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  for (auto [name, saved] : {std::pair<const wchar_t*, Saved*>{L"ProxyEnable", &enable_},
                             std::pair<const wchar_t*, Saved*>{L"ProxyServer", &server_}}) {
    if (saved->present) {
      ::RegSetValueExW(key, name, 0, saved->type, saved->data.data(), static_cast<DWORD>(saved->data.size()));
    } else {
      ::RegDeleteValueW(key, name);
    }
  }
  ::RegCloseKey(key);
}

}  // namespace brivon::testing
