#include "servers/loopback_http_proxy.h"

#include <windows.h>
#include <wininet.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <iterator>

namespace brivon::testing {
namespace {

constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The values a system proxy setting changes, under Internet Settings (or its subkey).
struct SettingValue {
  const wchar_t* subkey;  // nullptr: Internet Settings itself
  const wchar_t* name;
};
constexpr SettingValue kSettingValues[] = {{nullptr, L"ProxyEnable"},
                                           {nullptr, L"ProxyServer"},
                                           {nullptr, L"ProxyOverride"},
                                           {nullptr, L"AutoConfigURL"},
                                           {L"Connections", L"DefaultConnectionSettings"}};

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

// An office proxy's refusal until the person signs in. The request is read to its end first, so
// that closing the connection never resets it before the answer is read.
void AnswerSignInRequired(SOCKET client, std::string head, const std::string& challenge) {
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    const int got = ::recv(client, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    head.append(buffer, static_cast<size_t>(got));
  }
  const std::string body = "<html><body>Identificaci\xf3n requerida por el proxy</body></html>";
  const std::string answer = "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: " + challenge +
                             "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\nProxy-Connection: close\r\n\r\n" + body;
  SendAll(client, answer.data(), answer.size());
  ::shutdown(client, SD_SEND);
}

// The connection's settings as Windows keeps them (Connections\DefaultConnectionSettings): a
// version, a change counter, the PROXY_TYPE_ flags, then the proxy, the bypass list and the
// configuration script's address, each as its length and its bytes, and eight reserved numbers.
std::vector<unsigned char> ConnectionSettings(DWORD flags, const std::wstring& server, const std::wstring& bypass) {
  std::vector<unsigned char> data;
  auto number = [&data](DWORD value) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  auto text = [&data, &number](const std::wstring& value) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, value.c_str(), static_cast<int>(value.size()), nullptr, 0,
                                           nullptr, nullptr);
    number(static_cast<DWORD>(size));
    const size_t at = data.size();
    data.resize(at + static_cast<size_t>(size));
    if (size > 0) {
      ::WideCharToMultiByte(CP_UTF8, 0, value.c_str(), static_cast<int>(value.size()),
                            reinterpret_cast<char*>(data.data() + at), size, nullptr, nullptr);
    }
  };
  number(0x46);
  number(0);
  number(flags);
  text(server);
  text(bypass);
  text(std::wstring());  // no configuration script
  for (int i = 0; i < 8; ++i) number(0);
  return data;
}

void SetText(HKEY key, const wchar_t* name, const std::wstring& value) {
  ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
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

void LoopbackHttpProxy::AskSignInOnce(const std::string& path, const std::string& challenge) {
  std::lock_guard<std::mutex> lock(mutex_);
  challenges_[path] = challenge;
}

std::string LoopbackHttpProxy::TakeChallenge(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = challenges_.find(path);
  if (found == challenges_.end()) return {};
  std::string challenge = std::move(found->second);
  challenges_.erase(found);
  return challenge;
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
    const std::string challenge = TakeChallenge(origin.substr(0, origin.find('?')));
    if (!challenge.empty()) {
      AnswerSignInRequired(client, head, challenge);
      return;  // the acceptor closes the connection
    }
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

SystemProxySetting::SystemProxySetting(const std::wstring& server, const std::wstring& bypass) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return;
  }
  HKEY connections = nullptr;
  DWORD disposition = 0;
  if (::RegCreateKeyExW(key, L"Connections", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &connections, &disposition) !=
      ERROR_SUCCESS) {
    connections = nullptr;
  }
  madeConnectionsKey_ = connections && disposition == REG_CREATED_NEW_KEY;
  static_assert(sizeof(saved_) / sizeof(saved_[0]) == std::size(kSettingValues));
  for (size_t i = 0; i < std::size(kSettingValues); ++i) {
    Saved& saved = saved_[i];
    HKEY holder = kSettingValues[i].subkey ? connections : key;
    const wchar_t* name = kSettingValues[i].name;
    DWORD type = 0, size = 0;
    if (holder && ::RegQueryValueExW(holder, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      saved.data.resize(size);
      if (::RegQueryValueExW(holder, name, nullptr, &type, saved.data.data(), &size) == ERROR_SUCCESS) {
        saved.present = true;
        saved.type = type;
        saved.data.resize(size);
      }
    }
  }
  const DWORD enable = 1;
  ::RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof(enable));
  SetText(key, L"ProxyServer", server);
  if (bypass.empty()) {
    ::RegDeleteValueW(key, L"ProxyOverride");
  } else {
    SetText(key, L"ProxyOverride", bypass);
  }
  ::RegDeleteValueW(key, L"AutoConfigURL");
  if (connections) {
    const std::vector<unsigned char> settings = ConnectionSettings(PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, server, bypass);
    ::RegSetValueExW(connections, L"DefaultConnectionSettings", 0, REG_BINARY, settings.data(),
                     static_cast<DWORD>(settings.size()));
    ::RegCloseKey(connections);
  }
  ::RegCloseKey(key);
}

SystemProxySetting::~SystemProxySetting() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  HKEY connections = nullptr;
  if (::RegOpenKeyExW(key, L"Connections", 0, KEY_ALL_ACCESS, &connections) != ERROR_SUCCESS) connections = nullptr;
  for (size_t i = 0; i < std::size(kSettingValues); ++i) {
    const Saved& saved = saved_[i];
    HKEY holder = kSettingValues[i].subkey ? connections : key;
    if (!holder) continue;
    if (saved.present) {
      ::RegSetValueExW(holder, kSettingValues[i].name, 0, saved.type, saved.data.data(),
                       static_cast<DWORD>(saved.data.size()));
    } else {
      ::RegDeleteValueW(holder, kSettingValues[i].name);
    }
  }
  if (connections) ::RegCloseKey(connections);
  if (madeConnectionsKey_) ::RegDeleteKeyW(key, L"Connections");
  ::RegCloseKey(key);
}

}  // namespace brivon::testing
