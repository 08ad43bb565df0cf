#include "servers/loopback_ftp_server.h"

#include <ws2tcpip.h>

#include <cstdio>

namespace brivon::testing {
namespace {

bool SendText(SOCKET s, const std::string& text) {
  const std::string line = text + "\r\n";
  return ::send(s, line.data(), static_cast<int>(line.size()), 0) == static_cast<int>(line.size());
}

// One command line from the control connection, without its CR LF; false when it closed.
bool ReadLine(SOCKET s, std::string& pending, std::string& line) {
  for (;;) {
    const size_t end = pending.find("\r\n");
    if (end != std::string::npos) {
      line = pending.substr(0, end);
      pending.erase(0, end + 2);
      return true;
    }
    char buffer[512];
    const int got = ::recv(s, buffer, sizeof(buffer), 0);
    if (got <= 0) return false;
    pending.append(buffer, static_cast<size_t>(got));
  }
}

SOCKET ListenOnLoopback(uint16_t& port) {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(s, 1) != 0) {
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  int length = sizeof(address);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return s;
}

}  // namespace

LoopbackFtpServer::LoopbackFtpServer() = default;
LoopbackFtpServer::~LoopbackFtpServer() { Stop(); }

bool LoopbackFtpServer::Start() {
  listener_ = ListenOnLoopback(port_);
  if (listener_ == INVALID_SOCKET) return false;
  stopping_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void LoopbackFtpServer::Stop() {
  if (listener_ == INVALID_SOCKET && !acceptThread_.joinable()) return;
  stopping_ = true;
  if (listener_ != INVALID_SOCKET) {
    ::closesocket(listener_);
    listener_ = INVALID_SOCKET;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (session_ != INVALID_SOCKET) ::shutdown(session_, SD_BOTH);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
}

void LoopbackFtpServer::Serve(const std::string& path, std::string body) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_[path] = std::move(body);
}

std::vector<std::string> LoopbackFtpServer::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

// One session at a time, each to its end: one client is all a test has.
void LoopbackFtpServer::AcceptLoop() {
  while (!stopping_) {
    SOCKET control = ::accept(listener_, nullptr, nullptr);
    if (control == INVALID_SOCKET) break;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      session_ = control;
    }
    HandleSession(control);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      session_ = INVALID_SOCKET;
    }
    ::closesocket(control);
  }
}

void LoopbackFtpServer::HandleSession(SOCKET control) {
  SendText(control, "220 Servidor FTP de prueba");
  std::string pending, line;
  SOCKET passive = INVALID_SOCKET;
  sockaddr_in active{};
  bool useActive = false;
  while (!stopping_ && ReadLine(control, pending, line)) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      commands_.push_back(line);
    }
    const std::string verb = line.substr(0, line.find(' '));
    const std::string argument = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
    if (verb == "USER") {
      SendText(control, "331 Contrasena, por favor");
    } else if (verb == "PASS") {
      SendText(control, "230 Dentro");
    } else if (verb == "TYPE") {
      SendText(control, "200 Tipo cambiado");
    } else if (verb == "SYST") {
      SendText(control, "215 UNIX Type: L8");
    } else if (verb == "PWD") {
      SendText(control, "257 \"/\"");
    } else if (verb == "CWD") {
      SendText(control, "250 Hecho");
    } else if (verb == "SIZE") {
      std::lock_guard<std::mutex> lock(mutex_);
      auto file = files_.find(argument);
      SendText(control, file == files_.end() ? "550 No existe" : "213 " + std::to_string(file->second.size()));
    } else if (verb == "PASV") {
      if (passive != INVALID_SOCKET) ::closesocket(passive);
      uint16_t dataPort = 0;
      passive = ListenOnLoopback(dataPort);
      useActive = false;
      char reply[96];
      std::snprintf(reply, sizeof(reply), "227 Entering Passive Mode (127,0,0,1,%u,%u)", dataPort >> 8, dataPort & 255);
      SendText(control, reply);
    } else if (verb == "PORT") {
      unsigned a = 0, b = 0, c = 0, d = 0, p1 = 0, p2 = 0;
      if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u", &a, &b, &c, &d, &p1, &p2) == 6 && a == 127) {
        active = sockaddr_in{};
        active.sin_family = AF_INET;
        active.sin_addr.s_addr = htonl(a << 24 | b << 16 | c << 8 | d);
        active.sin_port = htons(static_cast<u_short>(p1 << 8 | p2));
        useActive = true;
        SendText(control, "200 PORT hecho");
      } else {
        SendText(control, "501 Solo 127.x.x.x");
      }
    } else if (verb == "RETR") {
      SendFile(control, passive, active, useActive, argument);
    } else if (verb == "QUIT") {
      SendText(control, "221 Adios");
      break;
    } else {
      SendText(control, "502 No implementado");
    }
  }
  if (passive != INVALID_SOCKET) ::closesocket(passive);
}

bool LoopbackFtpServer::SendFile(SOCKET control, SOCKET& passive, const sockaddr_in& active, bool useActive,
                                 const std::string& path) {
  std::string body;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto file = files_.find(path);
    if (file == files_.end() && !path.empty() && path[0] != '/') file = files_.find("/" + path);
    if (file == files_.end()) return SendText(control, "550 No existe");
    body = file->second;
  }
  SOCKET data = INVALID_SOCKET;
  if (useActive) {
    data = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (::connect(data, reinterpret_cast<const sockaddr*>(&active), sizeof(active)) != 0) {
      ::closesocket(data);
      return SendText(control, "425 Sin conexion de datos");
    }
    SendText(control, "150 Enviando");
  } else {
    if (passive == INVALID_SOCKET) return SendText(control, "425 Use PASV first");
    SendText(control, "150 Enviando");
    data = ::accept(passive, nullptr, nullptr);
    ::closesocket(passive);
    passive = INVALID_SOCKET;
    if (data == INVALID_SOCKET) return SendText(control, "425 Sin conexion de datos");
  }
  size_t sent = 0;
  while (sent < body.size()) {
    const int got = ::send(data, body.data() + sent, static_cast<int>(body.size() - sent), 0);
    if (got <= 0) break;
    sent += static_cast<size_t>(got);
  }
  ::shutdown(data, SD_SEND);
  ::closesocket(data);
  return SendText(control, "226 Transferencia completa");
}

}  // namespace brivon::testing
