#include "whole_road.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "alerts/window/alert_layout.h"
#include "alerts/window/text_drawing.h"
#include "build_arch.h"
#include "build_config.h"
#include "common/text.h"
#include "picture_bytes.h"
#include "servers/loopback_http_server.h"
#include "support/alert_window_driver.h"
#include "support/environment_variable.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace brivon::bench {
namespace {

namespace t = brivon::testing;
using Clock = std::chrono::steady_clock;

// What the bench holds the program to: each kind fully painted within this of its floor.
constexpr double kAboveFloorMs = 100;
// A window on the screen whose last drawing has not shown by then never will: the run is given up.
constexpr double kProbeLimitMs = 30000;
constexpr DWORD kRunLimitMs = 120000;
// How often a timed run with a window is looked at until the window shows: the runner's usual
// 50 ms would put off seeing it by up to that much, and each look asks Wine's server for the
// windows, which a poll every few ms would slow the program with.
constexpr DWORD kWindowPollMs = 10;
constexpr DWORD kClickAgainMs = 200;
// Wine finishes off an exited program (its server, the desktop process) for a moment after its
// exit, and a start right then takes up to 60 ms more, whichever program it is: every timed start
// waits that moment out, as a start on a desk is not one right after another program's exit.
constexpr DWORD kSettleBeforeStartMs = 300;
constexpr wchar_t kFloorProgram[] = L"brivon_paint_floor.exe";
constexpr wchar_t kSiblingFixture[] = L"fixture_sibling_10_2_0_15.exe";
constexpr char kPackagePath[] = "/paquetes/FacturaOrva.exe";

// The pixel of what a window draws last, in screen pixels, and its colour once drawn. x < 0 while
// the window cannot say yet where it is (the terms box not made yet).
struct Probe {
  int x = -1;
  int y = -1;
  COLORREF colour = 0;
};

// One alert kind's road: the document's only alert and where its window shows it is whole.
struct Road {
  std::string name;
  std::function<std::string(const std::string& package)> alert;  // package: the update's address
  std::function<Probe(HWND window)> probe;
  bool update = false;  // its window closes by itself once its update is over
};

struct RoadTimes {
  std::vector<double> shown, painted, floor, windowFloor, above, aboveWindow;
};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The rounds' middle half, "q1-q3": on a busy host one median moves by more than a goal's margin,
// and this shows by how much the rounds spread around it.
std::string MiddleHalf(std::vector<double> values) {
  if (values.empty()) return "-";
  std::sort(values.begin(), values.end());
  char text[32];
  std::snprintf(text, sizeof(text), "%.0f-%.0f", values[values.size() / 4], values[values.size() * 3 / 4]);
  return text;
}

// "http://host:port/a/b" -> "/a/b".
std::string PathOf(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t path = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  return path == std::string::npos ? "/" : url.substr(path);
}

std::string Address(const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(t::BuiltInPort()) + path;
}

std::string Entry(const std::string& texto, const std::string& imagen) {
  return R"({"texto":")" + texto + R"(","imagen":")" + imagen +
         R"(","enlace":"https://example.com/oferta","color_fondo":"#0078D7","color_texto":"#FFFFFF"})";
}

t::HttpReply Reply(std::string body, const char* contentType) {
  t::HttpReply reply;
  reply.body = std::move(body);
  reply.contentType = contentType;
  return reply;
}

Probe MiddleOf(const PixelRect& picture) {
  return Probe{picture.x + picture.w / 2, picture.y + picture.h / 2, kBlockColor & 0xFFFFFF};
}

// The terms document: its first line a solid bar of the block's colour (letters and their marking
// alike), so that the screen shows when the box has taken it; then the usual text.
constexpr char kTermsDocument[] =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red16\\green224\\blue112;}"
    "\\f0\\fs96\\cf1\\cb1\\highlight1 MMMMMMMMMMMMMMMMMMMMMMMMMMMMMM\\highlight0\\cb0\\cf0\\fs24\\par "
    "Condiciones de uso del programa y de sus avisos. Al aceptar, el usuario declara haberlas leido.\\par}";
constexpr char kUnicoText[] =
    "Ya esta disponible la nueva version del programa, con la facturacion electronica y el nuevo "
    "modulo de inventario. Pulse la imagen para conocer todas las novedades.";

// Every kind with a first window, its pictures served by `service`; probes for a window covering
// the primary screen.
std::vector<Road> Roads(t::LoopbackHttpServer& service) {
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  const AlertLayout layout = MakeAlertLayout(width, height);
  auto serve = [&](const std::string& path, int w, int h, Gdiplus::ARGB from, Gdiplus::ARGB to) {
    service.Serve(path, Reply(PictureBytes(w, h, from, to, true), "image/png"));
    return Address(path);
  };
  std::vector<Road> roads;

  std::string entries;
  for (int i = 0; i < 5; ++i) {
    const std::string number = std::to_string(i + 1);
    if (i > 0) entries += ",";
    entries += Entry("Oferta de temporada " + number,
                     serve("/fotos/oferta" + number + ".png", 800, 600, 0xFF2060A0 + i * 0x1000, 0xFFE0A040));
  }
  const PixelRect last = GridCellFor(layout, GridFor(layout, 5, 3), 4, 800, 600).picture;
  roads.push_back({"boton_multiple, five 800x600 pictures",
                   [entries](const std::string&) {
                     return R"({"tipo":"boton_multiple","columnas":"3","contenido":[)" + entries + "]}";
                   },
                   [last](HWND) { return MiddleOf(last); }});

  const std::string unico = Entry(kUnicoText, serve("/fotos/novedades.png", 800, 600, 0xFF204080, 0xFF80C0E0));
  // Placed as the painter places it: the same text measured with the same font.
  HDC screen = ::GetDC(nullptr);
  PixelRect unicoPicture;
  {
    Gdiplus::Graphics graphics(screen);
    const std::wstring text = AlertTextToWide(kUnicoText);
    CenteredTextMeasure measure(26.0f);
    unicoPicture = BotonUnicoFor(layout, 800, 600, [&](float w, float h) {
                     return measure.Height(graphics, text, w, h);
                   }).picture;
  }
  ::ReleaseDC(nullptr, screen);
  roads.push_back({"boton_unico, one 800x600 picture",
                   [unico](const std::string&) { return R"({"tipo":"boton_unico","contenido":[)" + unico + "]}"; },
                   [unicoPicture](HWND) { return MiddleOf(unicoPicture); }});

  const std::string solo = Entry("Aviso de mantenimiento",
                                 serve("/fotos/mantenimiento.png", 800, 600, 0xFF603020, 0xFFF0D0A0));
  const PixelRect soloPicture = SoloMensajeFor(layout, 800, 600).picture;
  roads.push_back({"solo_mensaje, one 800x600 picture",
                   [solo](const std::string&) { return R"({"tipo":"solo_mensaje","contenido":[)" + solo + "]}"; },
                   [soloPicture](HWND) { return MiddleOf(soloPicture); }});

  service.Serve("/terminos/condiciones.rtf", Reply(kTermsDocument, "application/rtf"));
  const std::string terms = Address("/terminos/condiciones.rtf");
  roads.push_back({"documento_rtf, its terms document",
                   [terms](const std::string&) {
                     return R"({"tipo":"documento_rtf","contenido":[{"texto":"Terminos","enlace":")" + terms +
                            R"("}]})";
                   },
                   [](HWND window) {
                     // Inside the marked first line of the box, once the box is there.
                     RECT box{};
                     const HWND richEdit = t::FindChild(window, L"RICHEDIT50W");
                     if (!richEdit || !::GetWindowRect(richEdit, &box)) return Probe{};
                     return Probe{box.left + 60, box.top + 30, kBlockColor & 0xFFFFFF};
                   }});

  const std::string updatePicture = PathOf(WideToUtf8(BRIVON_UPDATE_PICTURE_URL));
  serve(updatePicture, 1200, 800, 0xFF106030, 0xFFA0E0B0);
  const PixelRect updateAt = UpdatePictureFor(layout, 1200, 800);
  roads.push_back({"url_actualizar, its frame and update picture",
                   [](const std::string& package) {
                     return R"({"tipo":"url_actualizar","titulo":"Actualizando","contenido":[{"texto":"","enlace":")" +
                            package + R"("}]})";
                   },
                   [updateAt](HWND) { return MiddleOf(updateAt); },
                   true});
  return roads;
}

// The update's package: nothing answers until the bench lets it go, then the connection drops,
// the download fails and the window closes by itself. The update window stays up until it has
// been seen whole, and no update really runs.
class HeldPackage {
 public:
  bool Start() {
    t::HttpReply silent;
    silent.neverAnswer = true;
    server_ = std::make_unique<t::LoopbackHttpServer>();
    server_->Serve(kPackagePath, silent);
    return server_->Start();
  }
  std::string url() const { return server_ ? WideToUtf8(server_->Url(kPackagePath)) : std::string(); }
  void Release() { server_.reset(); }

 private:
  std::unique_ptr<t::LoopbackHttpServer> server_;
};

// A program folder of a desk: the sibling program the check-in reports and the archive tool.
bool PrepareFolder(const t::TempFolder& folder) {
  return ::CopyFileW(t::ArchiveToolPath().c_str(), (folder / L"7za.exe").c_str(), FALSE) &&
         ::CopyFileW(t::TestToolPath(kSiblingFixture).c_str(), (folder / L"FacturaOrva.exe").c_str(), FALSE);
}

std::string Hex(COLORREF colour) {
  char text[8];
  std::snprintf(text, sizeof(text), "%06lx", static_cast<unsigned long>(colour));
  return text;
}

// brivon.exe from its start to its window on the screen and to the probe's pixel drawn; then the
// window is closed as a person closes it (an update window closes by itself once let go).
bool TimeBrivon(const Road& road, HeldPackage& package, double* shownMs, double* paintedMs, std::string* why) {
  t::TempFolder folder(L"paintroad");
  if (!PrepareFolder(folder)) {
    *why = "the program folder could not be made";
    return false;
  }
  const std::wstring exe = t::InstallBrivon(folder.path());
  HWND window = nullptr;
  DWORD shownTick = 0;
  DWORD clickedTick = ::GetTickCount() - kClickAgainMs;
  bool gaveUp = false;
  Probe probe;
  COLORREF seen = 0;
  t::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  options.pollMs = kWindowPollMs;
  ::Sleep(kSettleBeforeStartMs);
  const Clock::time_point start = Clock::now();
  options.whileRunning = [&](DWORD processId) {
    while (*paintedMs < 0 && !gaveUp) {  // finer than the runner's own polls, until the window is whole
      if (!window) {
        const std::vector<HWND> windows = t::VisibleAlertWindows(processId);
        if (windows.empty()) return;
        *shownMs = MsSince(start);
        shownTick = ::GetTickCount();
        window = windows.front();
      }
      probe = road.probe(window);
      if (probe.x >= 0 && (seen = t::ScreenPixel(probe.x, probe.y)) == probe.colour) {
        *paintedMs = MsSince(start);
      } else if (MsSince(start) - *shownMs > kProbeLimitMs) {
        gaveUp = true;
      } else {
        ::Sleep(2);
      }
    }
    if (road.update) {
      package.Release();
      return;
    }
    // A close-bar click counts only a double-click time after the window showed; clicked again
    // only after a while, so that two quick clicks never make a double-click.
    const DWORD now = ::GetTickCount();
    if (now - shownTick >= ::GetDoubleClickTime() + 100 && now - clickedTick >= kClickAgainMs) {
      t::CloseAlertWindowsThroughCloseBar(processId);
      clickedTick = now;
    }
  };
  const t::ProgramRun run = t::RunProgram(exe, options);
  package.Release();
  if (!run.started) {
    *why = "brivon.exe did not start";
  } else if (!window) {
    *why = "brivon.exe showed no window";
  } else if (gaveUp && probe.x < 0) {
    *why = "the window showed, but its terms box never did";
  } else if (gaveUp) {
    *why = "the window showed, but its last drawing never did: (" + std::to_string(probe.x) + ", " +
           std::to_string(probe.y) + ") stayed " + Hex(seen) + ", not " + Hex(probe.colour);
  } else if (run.timedOut) {
    *why = "brivon.exe did not end within " + std::to_string(kRunLimitMs / 1000) + " s";
  } else {
    return true;
  }
  return false;
}

// The floor program from its start to its exit, from a program folder like brivon.exe's. With a
// window: from its start to its blank window filled with the block colour on the screen.
bool TimeFloor(bool withWindow, double* floorMs, std::string* why) {
  t::TempFolder folder(withWindow ? L"paintfloorwindow" : L"paintfloor");
  const std::wstring exe = folder / kFloorProgram;
  if (!PrepareFolder(folder) || !::CopyFileW(t::TestToolPath(kFloorProgram).c_str(), exe.c_str(), FALSE)) {
    *why = "the floor's program folder could not be made";
    return false;
  }
  t::ScopedVariable window(L"BRIVON_FLOOR_WINDOW", withWindow ? L"1" : L"");
  t::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  if (withWindow) options.pollMs = kWindowPollMs;  // without, its exit ends the wait at once
  bool seen = !withWindow;
  ::Sleep(kSettleBeforeStartMs);
  const Clock::time_point start = Clock::now();
  options.whileRunning = [&](DWORD processId) {
    const int x = ::GetSystemMetrics(SM_CXSCREEN) / 2, y = ::GetSystemMetrics(SM_CYSCREEN) / 2;
    while (!seen && !t::VisibleAlertWindows(processId).empty()) {
      if (t::ScreenPixel(x, y) == (kBlockColor & 0xFFFFFF)) {
        *floorMs = MsSince(start);
        seen = true;
      } else {
        ::Sleep(2);
      }
    }
  };
  const t::ProgramRun run = t::RunProgram(exe, options);
  if (!withWindow) *floorMs = MsSince(start);
  if (run.started && !run.timedOut && run.exitCode == 0 && run.boxes.empty() && seen) return true;
  *why = !run.started    ? std::string("the floor program did not start")
         : run.timedOut ? std::string("the floor program did not end")
         : !seen         ? std::string("the floor's window was never seen filled")
                        : "the floor program did not fetch everything (exit code " + std::to_string(run.exitCode) + ")";
  return false;
}

// What a run asked the service for, in order of path: the floor must ask for what brivon.exe asks.
std::vector<std::string> Asked(const t::LoopbackHttpServer& service) {
  std::vector<std::string> asked;
  for (const t::RecordedRequest& request : service.Requests()) {
    asked.push_back(request.method + " " + request.path + (request.method == "POST" ? " " + request.body : ""));
  }
  std::sort(asked.begin(), asked.end());
  return asked;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

}  // namespace

int WholeRoad(int rounds) {
  t::LoopbackHttpServer service(t::BuiltInPort());
  std::vector<Road> roads = Roads(service);
  const std::string checkinPath = WideToUtf8(BRIVON_CHECKIN_PATH);
  if (!service.Start()) {
    std::fprintf(stderr, "whole road: the loopback service could not start on port %u\n", t::BuiltInPort());
    return 1;
  }
  std::vector<RoadTimes> times(roads.size());
  for (int round = 0; round <= rounds; ++round) {  // round 0 warms the caches and is not counted
    for (size_t k = 0; k < roads.size(); ++k) {
      const Road& road = roads[k];
      HeldPackage package;
      if (road.update && !package.Start()) {
        std::fprintf(stderr, "whole road: %s: the package's server could not start\n", road.name.c_str());
        return 1;
      }
      service.Serve(checkinPath,
                    Reply(R"({"titulo":"Avisos importantes","color_fondo":"#F3F3F3","alertas":[)" +
                              road.alert(package.url()) + "]}",
                          "application/json"));
      double shownMs = -1, paintedMs = -1, floorMs = -1, windowFloorMs = -1;
      std::string why;
      std::vector<std::string> brivonAsked, floorAsked, windowFloorAsked;
      const auto brivon = [&] {
        service.ClearRequests();
        const bool ok = TimeBrivon(road, package, &shownMs, &paintedMs, &why);
        brivonAsked = Asked(service);
        return ok;
      };
      const auto floor = [&] {
        service.ClearRequests();
        if (!TimeFloor(false, &floorMs, &why)) return false;
        floorAsked = Asked(service);
        service.ClearRequests();
        const bool ok = TimeFloor(true, &windowFloorMs, &why);
        windowFloorAsked = Asked(service);
        return ok;
      };
      // Every other round the floors go first, so that a busy moment of the machine hits all three.
      bool ok = round % 2 == 1 ? floor() && brivon() : brivon() && floor();
      for (const std::vector<std::string>* asked : {&floorAsked, &windowFloorAsked}) {
        if (ok && *asked != brivonAsked) {
          why = "a floor asked the service for" + Joined(*asked) + "\nwhere brivon.exe asked for" +
                Joined(brivonAsked);
          ok = false;
        }
      }
      if (!ok) {
        std::fprintf(stderr, "whole road: %s: %s\n", road.name.c_str(), why.c_str());
        return 1;
      }
      if (round == 0) continue;
      times[k].shown.push_back(shownMs);
      times[k].painted.push_back(paintedMs);
      times[k].floor.push_back(floorMs);
      times[k].windowFloor.push_back(windowFloorMs);
      times[k].above.push_back(paintedMs - floorMs);
      times[k].aboveWindow.push_back(paintedMs - windowFloorMs);
    }
  }
  service.Stop();

  std::printf("\nwhole road at %d x %d, %s build, %d rounds; medians in ms (painted - floor: of each round's "
              "difference; middle half: its rounds' quartiles). Floor: the paint floor program from its start to "
              "its exit (the same check-in, then what the window shows fetched side by side). Window floor: the same "
              "with a blank full-screen window, made beside the fetches, shown and filled once they arrived\n",
              ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), kBuildArch, rounds);
  std::printf("%-46s %13s %14s %7s %13s %16s %12s %23s\n", "kind", "first window", "fully painted", "floor",
              "window floor", "painted - floor", "middle half", "painted - window floor");
  std::string over;
  for (size_t k = 0; k < roads.size(); ++k) {
    const double above = Median(times[k].above);
    std::printf("%-46s %13.0f %14.0f %7.0f %13.0f %16.0f %12s %23.0f\n", roads[k].name.c_str(), Median(times[k].shown),
                Median(times[k].painted), Median(times[k].floor), Median(times[k].windowFloor), above,
                MiddleHalf(times[k].above).c_str(), Median(times[k].aboveWindow));
    if (above > kAboveFloorMs) over += (over.empty() ? "" : ", ") + roads[k].name.substr(0, roads[k].name.find(','));
  }
  if (over.empty()) {
    std::printf("every kind fully painted within %.0f ms of its floor: yes\n", kAboveFloorMs);
  } else {
    std::printf("every kind fully painted within %.0f ms of its floor: no (%s)\n", kAboveFloorMs, over.c_str());
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace brivon::bench
