// A small FTP server on 127.0.0.1 for tests: serves files from memory for RETR, in passive or
// active mode, asks for a user name and password, and records every command it receives.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brivon::testing {

class LoopbackFtpServer {
 public:
  LoopbackFtpServer();
  ~LoopbackFtpServer();
  LoopbackFtpServer(const LoopbackFtpServer&) = delete;
  LoopbackFtpServer& operator=(const LoopbackFtpServer&) = delete;

  bool Start();
  void Stop();
  uint16_t port() const { return port_; }

  void Serve(const std::string& path, std::string body);
  // Commands as received, one string each ("USER ana", "RETR /p.png"), in order.
  std::vector<std::string> Commands() const;

 private:
  void AcceptLoop();
  void HandleSession(SOCKET control);
  bool SendFile(SOCKET control, SOCKET& passive, const sockaddr_in& active, bool useActive, const std::string& path);

  uint16_t port_ = 0;
  SOCKET listener_ = INVALID_SOCKET;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> files_;
  std::vector<std::string> commands_;
  SOCKET session_ = INVALID_SOCKET;
};

}  // namespace brivon::testing
