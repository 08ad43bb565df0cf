#include "servers/loopback_http_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <filesystem>

namespace brivon::testing {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

const char* ReasonFor(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
  }
  return out;
}

bool SendAll(SOCKET s, const char* data, size_t size) {
  while (size > 0) {
    int sent = ::send(s, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

struct WinsockStartup {
  WinsockStartup() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockStartup() { ::WSACleanup(); }
};

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  std::string wanted = Lower(name) + ":";
  size_t start = 0;
  while (start < headers.size()) {
    size_t end = headers.find("\r\n", start);
    if (end == std::string::npos) end = headers.size();
    std::string line = headers.substr(start, end - start);
    if (Lower(line.substr(0, wanted.size())) == wanted) {
      std::string value = line.substr(wanted.size());
      value.erase(0, value.find_first_not_of(" \t"));
      return value;
    }
    start = end + 2;
  }
  return {};
}

LoopbackHttpServer::LoopbackHttpServer(uint16_t port) : port_(port) {
  static WinsockStartup winsock;
  defaultReply_.status = 404;
  defaultReply_.body = "<html><body><h1>404 Not Found</h1></body></html>";
  defaultReply_.contentType = "text/html";
}

LoopbackHttpServer::~LoopbackHttpServer() { Stop(); }

bool LoopbackHttpServer::Start() {
  if (!acceptor_.Start(port_, [this](SOCKET client) { HandleConnection(client); })) return false;
  port_ = acceptor_.port();
  return true;
}

void LoopbackHttpServer::Stop() { acceptor_.Stop(); }

std::wstring LoopbackHttpServer::Url(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + std::wstring(path.begin(), path.end());
}

void LoopbackHttpServer::Serve(const std::string& path, HttpReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[path] = std::move(reply);
}

void LoopbackHttpServer::ServeDefault(HttpReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaultReply_ = std::move(reply);
}

void LoopbackHttpServer::OnRequest(std::function<bool(const RecordedRequest&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t LoopbackHttpServer::CountRequests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(
      std::count_if(requests_.begin(), requests_.end(), [&](const RecordedRequest& r) { return r.path == path; }));
}

void LoopbackHttpServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

HttpReply LoopbackHttpServer::ReplyFor(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = replies_.find(path);
  return found != replies_.end() ? found->second : defaultReply_;
}

bool LoopbackHttpServer::Pause(int milliseconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < until) {
    if (acceptor_.stopping()) return false;
    ::Sleep(10);
  }
  return !acceptor_.stopping();
}

int LoopbackHttpServer::Receive(SOCKET client, char* buffer, int size) {
  // Waits with select(), which takes no bytes: a recv() that times out (SO_RCVTIMEO) leaves the
  // connection in an undefined state, and under Wine it has lost a request's first bytes.
  for (;;) {
    if (acceptor_.stopping()) return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client, &readable);
    timeval poll{0, 200 * 1000};
    const int ready = ::select(0, &readable, nullptr, nullptr, &poll);
    if (ready < 0) return -1;
    if (ready > 0) return ::recv(client, buffer, size, 0);
  }
}

void LoopbackHttpServer::HandleConnection(SOCKET client) {
  // One request per connection: every answer says "Connection: close".
  std::string data;
  char buffer[16384];
  size_t headerEnd = std::string::npos;
  while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
    int got = Receive(client, buffer, sizeof(buffer));
    if (got <= 0) break;
    data.append(buffer, static_cast<size_t>(got));
  }
  bool stopAfter = false;
  if (headerEnd != std::string::npos) {
    RecordedRequest request;
    size_t lineEnd = data.find("\r\n");
    std::string requestLine = data.substr(0, lineEnd);
    size_t space1 = requestLine.find(' ');
    size_t space2 = requestLine.find(' ', space1 + 1);
    request.method = requestLine.substr(0, space1);
    request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
    request.path = request.target.substr(0, request.target.find('?'));
    if (space2 != std::string::npos) request.version = requestLine.substr(space2 + 1);
    request.headers = data.substr(lineEnd + 2, headerEnd - lineEnd);
    std::string lengthText = request.Header("Content-Length");
    size_t bodyLength = lengthText.empty() ? 0 : std::stoul(lengthText);
    request.body = data.substr(headerEnd + 4);
    while (request.body.size() < bodyLength) {
      int got = Receive(client, buffer, sizeof(buffer));
      if (got <= 0) break;
      request.body.append(buffer, static_cast<size_t>(got));
    }
    std::function<bool(const RecordedRequest&)> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
      hook = hook_;
    }
    HttpReply reply = ReplyFor(request.path);
    if (!reply.basicAuth.empty() && request.Header("Authorization") != "Basic " + Base64(reply.basicAuth)) {
      HttpReply challenge;
      challenge.status = 401;
      challenge.body = "<html>Acceso denegado</html>";
      challenge.contentType = "text/html";
      challenge.headers.push_back({"WWW-Authenticate", "Basic realm=\"brivon\""});
      reply = challenge;
    }
    if (reply.neverAnswer) {
      while (Pause(50)) {
      }
    } else if (!reply.closeWithoutAnswer && Pause(reply.delayBeforeMs)) {
      SendReply(client, reply, request.method == "HEAD");
    }
    if (hook) stopAfter = hook(request);
  }
  ::shutdown(client, SD_SEND);
  if (stopAfter) acceptor_.StopListening();
}

bool LoopbackHttpServer::SendReply(SOCKET client, const HttpReply& reply, bool headOnly) {
  uint64_t total = reply.body.size();
  std::ifstream file;
  if (!reply.bodyFile.empty()) {
    file.open(std::filesystem::path(reply.bodyFile), std::ios::binary);
    std::error_code ec;
    total = std::filesystem::file_size(std::filesystem::path(reply.bodyFile), ec);
    if (ec) total = 0;
  } else if (reply.repeatedSize != 0) {
    total = reply.repeatedSize;
  }

  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonFor(reply.status) + "\r\n";
  head += "Content-Type: " + reply.contentType + "\r\n";
  if (reply.chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else if (reply.sendContentLength) {
    head += "Content-Length: " + std::to_string(total) + "\r\n";
  }
  for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
  head += "Connection: close\r\n\r\n";
  if (reply.headByteDelayMs > 0) {
    for (char c : head) {
      if (!SendAll(client, &c, 1) || !Pause(reply.headByteDelayMs)) return false;
    }
  } else if (!SendAll(client, head.data(), head.size())) {
    return false;
  }
  if (headOnly) return true;

  uint64_t limit = total;
  if (reply.cutAfter >= 0 && static_cast<uint64_t>(reply.cutAfter) < limit) limit = static_cast<uint64_t>(reply.cutAfter);
  const std::string pattern = reply.body.empty() ? std::string("0123456789abcdef") : reply.body;
  std::vector<char> chunk(std::max<size_t>(reply.chunkSize, 1));
  uint64_t sent = 0;
  while (sent < limit) {
    size_t size = static_cast<size_t>(std::min<uint64_t>(chunk.size(), limit - sent));
    const bool trickling = reply.trickleAfter >= 0 && sent >= static_cast<uint64_t>(reply.trickleAfter);
    if (trickling) {
      size = 1;
    } else if (reply.trickleAfter >= 0) {
      size = static_cast<size_t>(std::min<uint64_t>(size, static_cast<uint64_t>(reply.trickleAfter) - sent));
    }
    if (file.is_open()) {
      file.read(chunk.data(), static_cast<std::streamsize>(size));
      size = static_cast<size_t>(file.gcount());
      if (size == 0) break;
    } else if (reply.repeatedSize != 0) {
      for (size_t i = 0; i < size; ++i) chunk[i] = pattern[(sent + i) % pattern.size()];
    } else {
      std::copy_n(reply.body.data() + sent, size, chunk.data());
    }
    if (reply.chunked) {
      char sizeLine[24];
      std::snprintf(sizeLine, sizeof(sizeLine), "%zx\r\n", size);
      if (!SendAll(client, sizeLine, std::strlen(sizeLine))) return false;
    }
    if (!SendAll(client, chunk.data(), size)) return false;
    if (reply.chunked && !SendAll(client, "\r\n", 2)) return false;
    sent += size;
    if (reply.chunkDelayMs > 0 && sent < limit && !Pause(reply.chunkDelayMs)) return false;
    if (trickling && sent < limit && !Pause(reply.trickleDelayMs)) return false;
  }
  if (reply.chunked && reply.cutAfter < 0) return SendAll(client, "0\r\n\r\n", 5);
  return true;
}

}  // namespace brivon::testing
