// Paint benchmark: one whole paint of each alert kind at a screen size (1920 x 1080 unless told),
// as WM_PAINT does it (frame, then the kind's painter, then the update picture for an update
// alert), timed over many rounds. Two surfaces: an off-screen 32-bit DIB (the painters alone)
// and a shown full-screen window's DC (what the X server gets as well). The pictures are scaled
// ahead, as the program's worker scales them before a window shows (timed on its own).
// Then the whole road of each kind at the screen's own size, beside its floor (whole_road.h).
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
#include "alerts/window/paint_cache.h"
#include "alerts/window/remote_resources.h"
#include "alerts/window/scaled_pictures.h"
#include "alerts/window/text_drawing.h"
#include "build_arch.h"
#include "common/unique_handle.h"
#include "picture_bytes.h"
#include "whole_road.h"

namespace {

using brivon::Alert;
using brivon::AlertItem;
using brivon::UniqueBitmap;

// A photo-like picture, decoded from PNG bytes as a downloaded picture is.
UniqueBitmap Picture(int w, int h, Gdiplus::ARGB from, Gdiplus::ARGB to) {
  return brivon::BitmapFromBytes(brivon::bench::PictureBytes(w, h, from, to));
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

// One paint as WM_PAINT does it, on a device context: the first of a window draws everything
// straight onto it; the next draws it once more and keeps it; a repaint copies what was kept.
// The window made its surface when it was created, before it showed (timed on its own below).
void PaintFirst(HDC dc, const brivon::AlertLayout& layout, brivon::AlertWindowState& state) {
  state.drawn.Forget();
  state.paintedOnce = false;
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
  brivon::AlertDocument document;
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
              brivon::bench::kBuildArch, width, height, rounds);
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
      PaintFirst(memory.get(), layout, dibState);  // a repaint has something kept (after its first use)
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
    return brivon::bench::WholeRoad(rounds);
  } catch (...) {
    return 1;
  }
}
