// The demo's loopback service: serves files at fixed paths until a request for /__stop.
//   brivon_demo_service.exe --port N [--file URLPATH FILE [CONTENT-TYPE] [--pace SECONDS]]...
// --pace spreads the file's body over about that many seconds, in small pieces, so that a person
// watching the update window sees each stage at work. Each request is printed as one line, so the
// demo can show what the program asked for.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/text.h"
#include "servers/loopback_http_server.h"

using brivon::testing::HttpReply;
using brivon::testing::LoopbackHttpServer;
using brivon::testing::RecordedRequest;

int wmain(int argc, wchar_t** argv) {
  int port = 0;
  struct Route {
    std::string path;
    HttpReply reply;
  };
  std::vector<Route> routes;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--port" && i + 1 < argc) {
      port = _wtoi(argv[++i]);
    } else if (arg == L"--file" && i + 2 < argc) {
      Route route;
      route.path = brivon::WideToUtf8(argv[++i]);
      route.reply.bodyFile = argv[++i];
      if (i + 1 < argc && std::wstring(argv[i + 1]).rfind(L"--", 0) != 0) {
        route.reply.contentType = brivon::WideToUtf8(argv[++i]);
      }
      routes.push_back(route);
    } else if (arg == L"--pace" && i + 1 < argc && !routes.empty()) {
      // Ten pieces a second.
      constexpr int kPieceMs = 100;
      const double seconds = _wtof(argv[++i]);
      std::error_code error;
      const uintmax_t size = std::filesystem::file_size(std::filesystem::path(routes.back().reply.bodyFile), error);
      const double pieces = std::max(1.0, seconds * 1000 / kPieceMs);
      routes.back().reply.chunkSize = std::max<size_t>(1, static_cast<size_t>(error ? 1 : size / pieces + 1));
      routes.back().reply.chunkDelayMs = kPieceMs;
    } else {
      std::fwprintf(stderr, L"unknown argument: %ls\n", argv[i]);
      return 2;
    }
  }
  LoopbackHttpServer server(static_cast<uint16_t>(port));
  for (auto& route : routes) server.Serve(route.path, route.reply);
  HANDLE stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  server.OnRequest([stopped](const RecordedRequest& request) {
    std::printf("servicio: %s %s (%zu bytes de cuerpo)\n", request.method.c_str(), request.target.c_str(),
                request.body.size());
    std::fflush(stdout);
    if (request.path != "/__stop") return false;
    ::SetEvent(stopped);
    return true;
  });
  if (!server.Start()) {
    std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  std::printf("servicio: escuchando en 127.0.0.1:%u\n", server.port());
  std::fflush(stdout);
  ::WaitForSingleObject(stopped, INFINITE);
  ::Sleep(100);
  server.Stop();
  return 0;
}
