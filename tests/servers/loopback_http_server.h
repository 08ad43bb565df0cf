// A real HTTP/1.1 server on 127.0.0.1 for tests and the demo. Each path gets a chosen reply,
// which can misbehave on purpose: error statuses, bodies cut before their Content-Length or their
// last chunk, empty, slow, huge or missing answers. Every request is recorded (headers and body bytes).
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "servers/loopback_acceptor.h"

namespace brivon::testing {

struct HttpReply {
  int status = 200;
  std::string body;
  std::string contentType = "application/octet-stream";
  std::vector<std::pair<std::string, std::string>> headers{};
  std::wstring bodyFile{};         // when set, the body is streamed from this file
  uint64_t repeatedSize = 0;       // when set, the body is `body` repeated up to this many bytes
  bool sendContentLength = true;
  int64_t cutAfter = -1;           // close after this many body bytes, the full length announced
  // The body in chunks of chunkSize (Transfer-Encoding: chunked, no length), ended by the zero-size
  // chunk; with cutAfter, the connection closes after that many body bytes, before the last chunk.
  // Sent whatever the request's version, as a server that ignores it does.
  bool chunked = false;
  int delayBeforeMs = 0;           // wait before the status line
  int chunkDelayMs = 0;            // wait between chunks of the body
  int headByteDelayMs = 0;         // send the status line and headers a byte at a time, this far apart
  size_t chunkSize = 64 * 1024;
  // After this many body bytes, one byte every trickleDelayMs: a line that never goes silent for
  // long enough to trip a receive limit, yet never brings the file. -1: no trickle.
  int64_t trickleAfter = -1;
  int trickleDelayMs = 0;
  bool neverAnswer = false;        // read the request, then say nothing until the server stops
  bool closeWithoutAnswer = false; // read the request, then close the connection
  std::string basicAuth{};         // when set, "user:password": a request without it gets 401
};

// A well-behaved reply of that status, body and type.
inline HttpReply Reply(int status, std::string body, std::string contentType = "application/octet-stream") {
  HttpReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.contentType = std::move(contentType);
  return reply;
}

struct RecordedRequest {
  std::string method;
  std::string target;   // as sent, query included
  std::string path;     // target without the query
  std::string version;  // of the request line: "HTTP/1.0" or "HTTP/1.1"
  std::string headers;  // the raw header block, request line excluded
  std::string body;
  std::string Header(const std::string& name) const;  // case-insensitive; "" when absent
};

class LoopbackHttpServer {
 public:
  explicit LoopbackHttpServer(uint16_t port = 0);  // 0: any free port
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  bool Start();
  void Stop();
  uint16_t port() const { return port_; }
  std::wstring Url(const std::string& path) const;

  void Serve(const std::string& path, HttpReply reply);
  void ServeDefault(HttpReply reply);  // for every path without its own reply; 404 until set
  // Called for every request, after it is recorded; return true to stop the server afterwards.
  void OnRequest(std::function<bool(const RecordedRequest&)> hook);

  std::vector<RecordedRequest> Requests() const;
  size_t CountRequests(const std::string& path) const;
  void ClearRequests();

 private:
  void HandleConnection(SOCKET client);
  HttpReply ReplyFor(const std::string& path) const;
  bool SendReply(SOCKET client, const HttpReply& reply, bool headOnly);
  bool Pause(int milliseconds);  // false when the server is stopping
  // recv() that gives up once the server is stopping: Wine's shutdown() does not wake a blocked
  // recv(), and a client that never closes (a killed program's socket) would hold Stop() for good.
  // -1 once stopping.
  int Receive(SOCKET client, char* buffer, int size);

  uint16_t port_;
  mutable std::mutex mutex_;
  std::map<std::string, HttpReply> replies_;
  HttpReply defaultReply_;
  std::vector<RecordedRequest> requests_;
  std::function<bool(const RecordedRequest&)> hook_;
  LoopbackAcceptor acceptor_;  // last: its handlers use the members above until it stops
};

}  // namespace brivon::testing
