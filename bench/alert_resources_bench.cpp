// Time and peak memory of the alert downloads and of the parser, one measurement per run:
//   alert_resources_bench.exe picture FILE     FetchImage of FILE served from loopback
//   alert_resources_bench.exe endless          FetchText of a body that never ends (stops at the cap)
//   alert_resources_bench.exe parse N          ParseAlertStream of a document with N alerts of 4 entries
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "alerts/model/alert_parser.h"
#include "alerts/window/remote_resources.h"
#include "common/text.h"
#include "servers/loopback_http_server.h"

namespace {

double Now() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
  return memory;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using brivon::testing::HttpReply;
  std::wstring mode = argc > 1 ? argv[1] : L"";
  brivon::testing::LoopbackHttpServer server;
  if (!server.Start()) return 2;
  brivon::GdiplusSession gdiplus;
  const PROCESS_MEMORY_COUNTERS before = Memory();
  const double start = Now();
  if (mode == L"picture" && argc == 3) {
    HttpReply reply;
    reply.bodyFile = argv[2];
    server.Serve("/p", reply);
    brivon::UniqueBitmap bitmap = brivon::FetchImage(brivon::WideToUtf8(server.Url("/p")));
    std::printf("picture: %ux%u ", bitmap ? bitmap->GetWidth() : 0, bitmap ? bitmap->GetHeight() : 0);
  } else if (mode == L"endless") {
    HttpReply reply;
    reply.body = std::string(4096, 'x');
    reply.repeatedSize = 1ull << 40;
    reply.sendContentLength = false;
    server.Serve("/e", reply);
    std::string text = brivon::FetchText(brivon::WideToUtf8(server.Url("/e")));
    std::printf("endless: %zu bytes kept ", text.size());
  } else if (mode == L"parse" && argc == 3) {
    int alerts = _wtoi(argv[2]);
    std::string json = "{\"titulo\":\"Bench\",\"alertas\":[";
    for (int i = 0; i < alerts; ++i) {
      json += i ? "," : "";
      json += R"({"tipo":"boton_multiple","columnas":"2","contenido":[)";
      for (int j = 0; j < 4; ++j) {
        json += j ? "," : "";
        json += R"({"texto":"Entrada de prueba con algo de texto","enlace":"http://e.example/)" + std::to_string(j) +
                R"(","color_fondo":"#EEEEEE","color_texto":"#111111"})";
      }
      json += "]}";
    }
    json += "]}";
    std::istringstream in(json);
    brivon::AlertDocument document;
    bool ok = brivon::ParseAlertStream(in, document, {});
    std::printf("parse: %s, %zu bytes, %zu alerts ", ok ? "ok" : "refused", json.size(), document.alertas.size());
  } else {
    std::fprintf(stderr, "usage: alert_resources_bench picture FILE | endless | parse N\n");
    return 64;
  }
  const double seconds = Now() - start;
  const PROCESS_MEMORY_COUNTERS after = Memory();
  std::printf("seconds=%.3f peak_working_set_growth_kib=%lu peak_private_growth_kib=%lu\n", seconds,
              static_cast<unsigned long>((after.PeakWorkingSetSize - before.PeakWorkingSetSize) / 1024),
              static_cast<unsigned long>((after.PeakPagefileUsage - before.PeakPagefileUsage) / 1024));
  return 0;
}
