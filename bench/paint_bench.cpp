// Paint benchmark: one whole paint of each alert kind at a screen size (1920 x 1080 unless told),
// as WM_PAINT does it (frame, then the kind's painter, then the update picture for an update
// alert), timed over many rounds. Two surfaces: an off-screen 32-bit DIB (the painters alone)
// and a shown full-screen window's DC (what the X server gets as well). The pictures are scaled
// ahead, as the program's worker scales them before a window shows (timed on its own).
// Then the whole road at the screen's own size: brivon.exe started with a loopback check-in
// service whose document holds a grid of five pictures, timed from its start to its first window
// on screen and to that window fully painted, beside the floor: the check-in and the pictures'
// transfers alone (side by side, as the program fetches them).
//   brivon_paint_bench.exe [ROUNDS] [WIDTH HEIGHT]
// Pictures are PNGs decoded from memory as downloaded ones are.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "alerts/model/gdiplus_owners.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_painting.h"
#include "alerts/window/alert_window.h"
#include "alerts/window/document_pictures.h"
#include "alerts/window/paint_cache.h"
#include "alerts/window/png_encoder.h"
#include "alerts/window/remote_resources.h"
#include "alerts/window/scaled_pictures.h"
#include "alerts/window/text_drawing.h"
#include "checkin/checkin_exchange.h"
#include "common/unique_handle.h"
#include "servers/loopback_http_server.h"
#include "support/alert_window_driver.h"
#include "support/program_run.h"
#include "support/test_env.h"

#if defined(__x86_64__) || defined(_M_X64)
#define BRIVON_BENCH_ARCH "x86_64"
#else
#define BRIVON_BENCH_ARCH "i686"
#endif

namespace {

using brivon::Alert;
using brivon::AlertItem;
using brivon::UniqueBitmap;

// The colour of the block in the middle of every picture of the whole-road run: where the screen
// shows it, the picture is drawn.
constexpr Gdiplus::ARGB kBlockColor = 0xFF10E070;

// A photo-like picture (two gradients and a few shapes), as PNG bytes; with a block of one colour
// in its middle when asked.
std::string PictureBytes(int w, int h, Gdiplus::ARGB from, Gdiplus::ARGB to, bool block = false) {
  Gdiplus::Bitmap source(w, h, PixelFormat24bppRGB);
  {
    Gdiplus::Graphics graphics(&source);
    Gdiplus::LinearGradientBrush gradient(Gdiplus::Point(0, 0), Gdiplus::Point(w, h), Gdiplus::Color(from),
                                          Gdiplus::Color(to));
    graphics.FillRectangle(&gradient, 0, 0, w, h);
    Gdiplus::SolidBrush spot{Gdiplus::Color(0x80FFFFFF)};
    for (int i = 0; i < 12; ++i) graphics.FillEllipse(&spot, (i * 97) % w, (i * 61) % h, w / 6, h / 6);
    if (block) {
      Gdiplus::SolidBrush middle{Gdiplus::Color(kBlockColor)};
      graphics.FillRectangle(&middle, w / 4, h / 4, w / 2, h / 2);
    }
  }
  CLSID png{};
  IStream* raw = nullptr;
  if (!brivon::FindPngEncoder(&png) || ::CreateStreamOnHGlobal(nullptr, TRUE, &raw) != S_OK) return {};
  brivon::UniqueStream stream(raw);
  if (source.Save(stream.get(), &png, nullptr) != Gdiplus::Ok) return {};
  STATSTG stat{};
  stream.get()->Stat(&stat, STATFLAG_NONAME);
  std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
  LARGE_INTEGER zero{};
  stream.get()->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  stream.get()->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  return bytes;
}

// The same, decoded again as a downloaded picture is.
UniqueBitmap Picture(int w, int h, Gdiplus::ARGB from, Gdiplus::ARGB to) {
  return brivon::BitmapFromBytes(PictureBytes(w, h, from, to));
}

AlertItem Entry(const std::string& texto, UniqueBitmap picture) {
  AlertItem item;
  item.texto = texto;
  item.enlace = "https://example.com/oferta";
  item.color_fondo = "#0078D7";
  item.color_texto = "#FFFFFF";
  item.image = std::move(picture);
  return item;
}

struct Case {
  const char* name;
  Alert alert;
};

std::vector<Case> Cases() {
  std::vector<Case> cases(6);
  cases[0].name = "boton_multiple (5 entries, 3 columns, 800x600 pictures)";
  cases[0].alert.tipo = "boton_multiple";
  cases[0].alert.columnas = 3;
  for (int i = 0; i < 5; ++i) {
    cases[0].alert.contenido.push_back(
        Entry("Oferta de temporada " + std::to_string(i + 1), Picture(800, 600, 0xFF2060A0 + i * 0x1000, 0xFFE0A040)));
  }
  cases[1].name = "boton_unico (800x600 picture, two lines of text)";
  cases[1].alert.tipo = "boton_unico";
  cases[1].alert.contenido.push_back(
      Entry("Ya esta disponible la nueva version del programa, con la facturacion electronica y el nuevo "
            "modulo de inventario. Pulse la imagen para conocer todas las novedades.",
            Picture(800, 600, 0xFF204080, 0xFF80C0E0)));
  cases[2].name = "solo_mensaje (1000x500 picture)";
  cases[2].alert.tipo = "solo_mensaje";
  cases[2].alert.contenido.push_back(Entry("Aviso de mantenimiento", Picture(1000, 500, 0xFF603020, 0xFFF0D0A0)));
  cases[3].name = "documento_rtf (frame; the box paints itself)";
  cases[3].alert.tipo = "documento_rtf";
  cases[3].alert.contenido.push_back(Entry("Terminos", nullptr));
  cases[4].name = "url_actualizar (frame and a 1200x800 update picture)";
  cases[4].alert.tipo = "url_actualizar";
  cases[4].alert.contenido.push_back(Entry("", nullptr));
  cases[5].name = "other kind (frame only)";
  cases[5].alert.tipo = "aviso";
  return cases;
}

// One paint as WM_PAINT does it, on a device context: the first of a window draws everything and
// keeps it; a repaint copies what was kept.
// The window made its surface when it was created, before it showed (timed on its own below).
void PaintFirst(HDC dc, const brivon::AlertLayout& layout, brivon::AlertWindowState& state) {
  state.drawn.Forget();
  const RECT all{0, 0, layout.width, layout.height};
  brivon::PaintAlertWindow(dc, all, layout, &state);
}

void Repaint(HDC dc, const brivon::AlertLayout& layout, brivon::AlertWindowState& state) {
  const RECT all{0, 0, layout.width, layout.height};
  brivon::PaintAlertWindow(dc, all, layout, &state);
}

struct Timing {
  double fastest = 0, median = 0, mean = 0;
};

Timing Time(int rounds, const std::function<void()>& paint) {
  paint();  // first use: fonts, codecs
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    paint();
    ::GdiFlush();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  Timing t;
  t.fastest = ms.front();
  t.median = ms[ms.size() / 2];
  for (double m : ms) t.mean += m;
  t.mean /= static_cast<double>(ms.size());
  return t;
}

LRESULT CALLBACK QuietWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint{};
    ::BeginPaint(window, &paint);
    ::EndPaint(window, &paint);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void Pump() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

int Bench(int rounds, int width, int height) {
  brivon::GdiplusSession gdiplus;
  if (!gdiplus.started()) return 1;
  brivon::AlertDocument& document = brivon::alertDocument;
  document.titulo = "Avisos importantes de su programa de gestion";
  document.color_fondo = "#F3F3F3";
  std::vector<Case> cases = Cases();
  const brivon::AlertLayout layout = brivon::MakeAlertLayout(width, height);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  brivon::UniqueDc memory(::CreateCompatibleDC(nullptr));
  brivon::UniqueGdiBitmap surface(
      ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !surface) return 1;
  HGDIOBJ previous = ::SelectObject(memory.get(), surface.get());

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = QuietWindowProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"BrivonPaintBench";
  ::RegisterClassW(&windowClass);
  brivon::UniqueWindow window(::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"BrivonPaintBench",
                                                                 L"paint bench", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                                                 height, nullptr, nullptr, windowClass.hInstance,
                                                                 nullptr));
  Pump();

  std::printf("%s build: one paint at %d x %d, %d rounds; milliseconds (fastest / median / mean)\n",
              BRIVON_BENCH_ARCH, width, height, rounds);
  std::printf("%-56s %-12s %26s %26s\n", "kind", "paint", "off-screen DIB", "shown window");
  for (Case& c : cases) {
    // One window state per surface: each keeps a bitmap compatible with its own device context.
    brivon::AlertWindowState dibState, shownState;
    for (brivon::AlertWindowState* state : {&dibState, &shownState}) {
      state->document = &document;
      state->alert = &c.alert;
    }
    // What the worker does before the window shows: the pictures scaled to where they go.
    auto scaled = std::make_shared<brivon::ScaledPictures>();
    Timing ahead;
    if (brivon::AlertKindOf(c.alert) == brivon::AlertKind::UrlActualizar) {
      dibState.updatePicture = Picture(1200, 800, 0xFF106030, 0xFFA0E0B0);
      shownState.updatePicture = Picture(1200, 800, 0xFF106030, 0xFFA0E0B0);
      const Gdiplus::ARGB background = brivon::ColorFromHex(document.color_fondo);
      ahead = Time(rounds, [&] {
        dibState.updatePictureScaled = brivon::ScaleUpdatePicture(*dibState.updatePicture, layout, background);
      });
      shownState.updatePictureScaled = brivon::ScaleUpdatePicture(*shownState.updatePicture, layout, background);
    } else if (!c.alert.contenido.empty() && c.alert.contenido.front().image) {
      ahead = Time(rounds, [&] {
        scaled = std::make_shared<brivon::ScaledPictures>();
        brivon::ScaleAlertPictures(document, c.alert, layout, *scaled);
      });
    }
    dibState.scaled = scaled;
    shownState.scaled = scaled;
    HDC shownDc = window ? ::GetDC(window.get()) : nullptr;
    const char* names[] = {"first", "repaint"};
    for (int which = 0; which < 2; ++which) {
      auto paint = [&](HDC dc, brivon::AlertWindowState& state) {
        if (which == 0) {
          PaintFirst(dc, layout, state);
        } else {
          Repaint(dc, layout, state);
        }
      };
      PaintFirst(memory.get(), layout, dibState);  // a repaint has something kept
      const Timing dib = Time(rounds, [&] { paint(memory.get(), dibState); });
      Timing shown;
      if (shownDc) {
        PaintFirst(shownDc, layout, shownState);
        shown = Time(rounds, [&] {
          paint(shownDc, shownState);
          Pump();
          // Reading a pixel back waits until the drawing is done, wherever Wine does it.
          ::GetPixel(shownDc, width - 1, height - 1);
        });
      }
      std::printf("%-56s %-12s %8.2f / %6.2f / %6.2f  %8.2f / %6.2f / %6.2f\n", which == 0 ? c.name : "",
                  names[which], dib.fastest, dib.median, dib.mean, shown.fastest, shown.median, shown.mean);
      std::fflush(stdout);
    }
    if (ahead.median > 0) {
      std::printf("%-56s %-12s %8.2f / %6.2f / %6.2f\n", "", "ahead", ahead.fastest, ahead.median, ahead.mean);
    }
    if (shownDc) ::ReleaseDC(window.get(), shownDc);
  }
  // The width search of boton_unico alone: its 28 measurements and the final one.
  {
    Alert& unico = cases[1].alert;
    const std::wstring text = brivon::AlertTextToWide(unico.contenido.front().texto);
    const Timing search = Time(rounds, [&] {
      Gdiplus::Graphics graphics(memory.get());
      brivon::CenteredTextMeasure measure(26.0f);
      brivon::BotonUnicoFor(layout, 800, 600,
                            [&](float w, float h) { return measure.Height(graphics, text, w, h); });
    });
    std::printf("%-56s %8.2f / %6.2f / %6.2f\n", "  of which the width search (29 text measurements)", search.fastest,
                search.median, search.mean);
  }
  // What each window does once at its creation, before it shows: the surface it keeps.
  if (window) {
    HDC dc = ::GetDC(window.get());
    brivon::PaintCache kept;
    const Timing making = Time(rounds, [&] {
      kept.Drop();
      kept.Prepare(dc, width, height);
    });
    ::ReleaseDC(window.get(), dc);
    std::printf("%-56s %8.2f / %6.2f / %6.2f\n", "making the kept surface (at each window's creation)", making.fastest,
                making.median, making.mean);
  }
  ::SelectObject(memory.get(), previous);
  return 0;
}

double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The whole road of a picture alert at the screen's size: brivon.exe from its start to its first
// window on screen and to that window fully painted (the middle of the last picture drawn), and
// the floor of that road, the check-in and the five pictures' transfers alone.
void WholeRoad(int rounds) {
  namespace t = brivon::testing;
  t::LoopbackHttpServer service(t::BuiltInPort());
  std::string entries;
  for (int i = 0; i < 5; ++i) {
    t::HttpReply picture;
    picture.body = PictureBytes(800, 600, 0xFF2060A0 + i * 0x1000, 0xFFE0A040, true);
    picture.contentType = "image/png";
    const std::string path = "/fotos/oferta" + std::to_string(i + 1) + ".png";
    service.Serve(path, picture);
    if (i > 0) entries += ",";
    entries += R"({"texto":"Oferta de temporada )" + std::to_string(i + 1) + R"(","imagen":"http://127.0.0.1:)" +
               std::to_string(t::BuiltInPort()) + path +
               R"(","enlace":"https://example.com/oferta","color_fondo":"#0078D7","color_texto":"#FFFFFF"})";
  }
  t::HttpReply document;
  document.body = R"({"titulo":"Avisos importantes","color_fondo":"#F3F3F3","alertas":[{"tipo":"boton_multiple",)"
                  R"("columnas":"3","contenido":[)" + entries + "]}]}";
  document.contentType = "application/json";
  service.Serve("/comprobador/checkin", document);
  if (!service.Start()) {
    std::printf("whole road: the loopback service could not start on port %u\n", t::BuiltInPort());
    return;
  }
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  const brivon::AlertLayout layout = brivon::MakeAlertLayout(width, height);
  const brivon::GridGeometry grid = brivon::GridFor(layout, 5, 3);
  const brivon::PixelRect last = brivon::GridCellFor(layout, grid, 4, 800, 600).picture;
  const int probeX = last.x + last.w / 2, probeY = last.y + last.h / 2;
  const COLORREF block = kBlockColor & 0xFFFFFF;

  std::vector<double> shown, painted, floor;
  for (int round = 0; round <= rounds; ++round) {  // round 0 warms the caches and is not counted
    t::TempFolder folder(L"paintbench");
    ::CopyFileW(t::ArchiveToolPath().c_str(), (folder / L"7za.exe").c_str(), FALSE);
    t::WriteBytes(folder / L"FacturaOrva.exe", "MZ sibling the check-in knows");
    const std::wstring exe = t::InstallBrivon(folder.path());
    double shownMs = -1, paintedMs = -1;
    DWORD shownTick = 0;
    t::RunOptions options;
    options.timeoutMs = 120000;
    const auto start = std::chrono::steady_clock::now();
    const auto since = [&] {
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    options.whileRunning = [&](DWORD processId) {
      while (paintedMs < 0) {  // finer than the runner's own polls, until the window is whole
        if (shownMs < 0) {
          if (t::VisibleAlertWindows(processId).empty()) return;
          shownMs = since();
          shownTick = ::GetTickCount();
        }
        if (t::ScreenPixel(probeX, probeY) == block) {
          paintedMs = since();
          break;
        }
        if (since() - shownMs > 30000) {  // never painted: the row shows no figure
          std::printf("whole road: the middle of the last picture (%d, %d) shows %06lx\n", probeX, probeY,
                      static_cast<unsigned long>(t::ScreenPixel(probeX, probeY)));
          break;
        }
        ::Sleep(2);
      }
      // A close-bar click counts only a double-click time after the window showed.
      if (::GetTickCount() - shownTick < ::GetDoubleClickTime() + 100) return;
      t::CloseAlertWindowsThroughCloseBar(processId);
    };
    const t::ProgramRun run = t::RunProgram(exe, options);
    if (!run.started || run.timedOut) std::printf("whole road: brivon.exe did not run to its end\n");
    // The floor: the same check-in and the same five pictures, side by side as the program takes them.
    const auto floorStart = std::chrono::steady_clock::now();
    const std::string reply = brivon::PostCheckinReport(R"({"programa":"FacturaOrva.exe"})");
    std::vector<std::string> addresses;
    for (int i = 0; i < 5; ++i) {
      addresses.push_back("http://127.0.0.1:" + std::to_string(t::BuiltInPort()) + "/fotos/oferta" +
                          std::to_string(i + 1) + ".png");
    }
    brivon::PictureDownloads downloads(addresses, brivon::kRemoteTransferDeadlineMs);
    size_t bytes = 0;
    for (size_t i = 0; i < addresses.size(); ++i) bytes += downloads.Take(i).size();
    const double floorMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - floorStart).count();
    if (reply.find("alertas") == std::string::npos || bytes == 0) std::printf("whole road: the floor fetched nothing\n");
    if (round == 0) continue;
    if (shownMs >= 0) shown.push_back(shownMs);
    if (paintedMs >= 0) painted.push_back(paintedMs);
    floor.push_back(floorMs);
  }
  service.Stop();
  std::printf("\nwhole road at %d x %d (%s build), boton_multiple with five 800x600 pictures from a loopback "
              "service, %d rounds; median ms\n",
              width, height, BRIVON_BENCH_ARCH, rounds);
  std::printf("%-72s %10.0f\n", "start of brivon.exe to its first window on screen", Median(shown));
  std::printf("%-72s %10.0f  (%zu of %d rounds)\n", "start of brivon.exe to that window fully painted",
              Median(painted), painted.size(), rounds);
  std::printf("%-72s %10.0f\n", "floor: the check-in and the five pictures' transfers, side by side",
              Median(floor));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 30;
  const int width = argc > 3 ? _wtoi(argv[2]) : 1920;
  const int height = argc > 3 ? _wtoi(argv[3]) : 1080;
  if (width < 200 || height < 200) {
    std::fprintf(stderr, "usage: brivon_paint_bench.exe [ROUNDS] [WIDTH HEIGHT]\n");
    return 2;
  }
  try {
    const int status = Bench(rounds, width, height);
    if (status != 0) return status;
    brivon::GdiplusSession gdiplus;  // the pictures of the whole road are made with it
    if (!gdiplus.started()) return 1;
    WholeRoad(rounds);
    return 0;
  } catch (...) {
    return 1;
  }
}
