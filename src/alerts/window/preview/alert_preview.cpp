// Alert preview, for the people who write alert documents: paints every alert of a document as
// the program's windows would, at a chosen screen size, and writes one PNG per alert.
//   brivon_alert_preview.exe DOCUMENT WIDTH HEIGHT OUTPUT_PREFIX [--repeat N]
// Writes OUTPUT_PREFIX_1.png, OUTPUT_PREFIX_2.png, ...; pictures are fetched as the program
// fetches them. --repeat paints each alert N more times and prints the mean time of one paint.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "alerts/model/alert_parser.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_painting.h"
#include "alerts/window/alert_window.h"
#include "alerts/window/remote_resources.h"
#include "alerts/window/text_drawing.h"
#include "build_config.h"
#include "common/gdiplus_owners.h"
#include "common/text.h"
#include "common/unique_handle.h"

namespace {

using brivon::AlertKind;

struct DcTraits {
  static HDC Invalid() { return nullptr; }
  static void Close(HDC dc) { ::DeleteDC(dc); }
};
struct BitmapHandleTraits {
  static HBITMAP Invalid() { return nullptr; }
  static void Close(HBITMAP bitmap) { ::DeleteObject(bitmap); }
};
using UniqueDc = brivon::UniqueAny<HDC, DcTraits>;
using UniqueHBitmap = brivon::UniqueAny<HBITMAP, BitmapHandleTraits>;

bool PngEncoder(CLSID* clsid) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (std::wcscmp(codecs[i].MimeType, L"image/png") == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

// What the window shows of a terms alert besides the frame: its box and its button, drawn.
void PaintTermsStandIn(Gdiplus::Graphics& graphics, const brivon::AlertLayout& layout, const brivon::Alert& alert) {
  Gdiplus::SolidBrush white{Gdiplus::Color(0xFFFFFFFF)};
  Gdiplus::SolidBrush grey{Gdiplus::Color(0xFFE1E1E1)};
  Gdiplus::Pen border{Gdiplus::Color(0xFF7A7A7A)};
  graphics.FillRectangle(&white, 20, layout.contentTop, layout.width - 40, layout.contentHeight);
  graphics.DrawRectangle(&border, 20, layout.contentTop, layout.width - 41, layout.contentHeight - 1);
  const std::string link = alert.contenido.empty() ? std::string() : alert.contenido.front().enlace;
  brivon::DrawCenteredText(graphics, L"[documento RTF: " + brivon::AlertTextToWide(link) + L"]", 18.0f,
                           Gdiplus::RectF(20.0f, static_cast<float>(layout.contentTop),
                                          static_cast<float>(layout.width - 40), 40.0f),
                           0xFF404040);
  const int buttonY = layout.contentTop + layout.contentHeight + 10;
  graphics.FillRectangle(&grey, 20, buttonY, 300, 30);
  graphics.DrawRectangle(&border, 20, buttonY, 299, 29);
  brivon::DrawCenteredText(graphics, brivon::kAcceptButtonText, 12.0f, Gdiplus::RectF(20.0f, buttonY, 300.0f, 30.0f),
                           0xFF808080);
}

void PaintUpdatePicture(Gdiplus::Graphics& graphics, const brivon::AlertLayout& layout, Gdiplus::Bitmap* picture) {
  if (!picture) return;
  const brivon::PixelRect r = brivon::UpdatePictureFor(layout, static_cast<int32_t>(picture->GetWidth()),
                                                       static_cast<int32_t>(picture->GetHeight()));
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.DrawImage(picture, r.x, r.y, r.w, r.h);
}

void PaintOnce(HDC dc, const brivon::AlertLayout& layout, brivon::Alert& alert, Gdiplus::Bitmap* updatePicture) {
  Gdiplus::Graphics graphics(dc);
  brivon::PaintAlert(graphics, layout, brivon::alertDocument, &alert);
  const AlertKind kind = brivon::AlertKindOf(alert);
  if (kind == AlertKind::DocumentoRtf) PaintTermsStandIn(graphics, layout, alert);
  if (kind == AlertKind::UrlActualizar && !alert.contenido.empty()) PaintUpdatePicture(graphics, layout, updatePicture);
}

int Preview(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fwprintf(stderr, L"usage: %ls DOCUMENT WIDTH HEIGHT OUTPUT_PREFIX [--repeat N]\n", argv[0]);
    return 2;
  }
  const std::string document = brivon::WideToUtf8(argv[1]);
  const int width = _wtoi(argv[2]);
  const int height = _wtoi(argv[3]);
  const std::wstring prefix = argv[4];
  int repeat = 0;
  if (argc >= 7 && std::wcscmp(argv[5], L"--repeat") == 0) repeat = _wtoi(argv[6]);
  if (width < 1 || height < 1 || width > 16384 || height > 16384) {
    std::fwprintf(stderr, L"screen size out of range\n");
    return 2;
  }

  brivon::GdiplusSession gdiplus;
  if (!gdiplus.started()) return 1;
  CLSID png{};
  if (!PngEncoder(&png)) return 1;
  if (!brivon::ParseAlertDocument(document, brivon::alertDocument, brivon::FetchImage)) {
    std::fwprintf(stderr, L"cannot read the alert document %ls\n", argv[1]);
    return 1;
  }
  brivon::UniqueBitmap updatePicture;
  for (const brivon::Alert& alert : brivon::alertDocument.alertas) {
    if (brivon::AlertKindOf(alert) == AlertKind::UrlActualizar) {
      updatePicture = brivon::FetchImage(brivon::WideToUtf8(BRIVON_UPDATE_PICTURE_URL));
      break;
    }
  }

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, as the PNG is written
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueDc dc(::CreateCompatibleDC(nullptr));
  UniqueHBitmap surface(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dc || !surface || !bits) return 1;
  HGDIOBJ previous = ::SelectObject(dc.get(), surface.get());

  const brivon::AlertLayout layout = brivon::MakeAlertLayout(width, height);
  int written = 0;
  for (size_t i = 0; i < brivon::alertDocument.alertas.size(); ++i) {
    brivon::Alert& alert = brivon::alertDocument.alertas[i];
    PaintOnce(dc.get(), layout, alert, updatePicture.get());
    ::GdiFlush();
    const std::wstring path = prefix + L"_" + std::to_wstring(i + 1) + L".png";
    {
      Gdiplus::Bitmap shot(width, height, width * 4, PixelFormat32bppRGB, static_cast<BYTE*>(bits));
      if (shot.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok) {
        ++written;
        std::printf("%s: %s\n", brivon::WideToUtf8(path).c_str(), alert.tipo.c_str());
      } else {
        std::fwprintf(stderr, L"cannot write %ls\n", path.c_str());
      }
    }
    if (repeat > 0) {
      LARGE_INTEGER frequency{}, start{}, end{};
      ::QueryPerformanceFrequency(&frequency);
      ::QueryPerformanceCounter(&start);
      for (int n = 0; n < repeat; ++n) PaintOnce(dc.get(), layout, alert, updatePicture.get());
      ::GdiFlush();
      ::QueryPerformanceCounter(&end);
      const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart) / repeat;
      std::printf("paint %s %dx%d: %.2f ms\n", alert.tipo.c_str(), width, height, ms);
    }
    std::fflush(stdout);
  }
  ::SelectObject(dc.get(), previous);
  updatePicture.reset();
  brivon::alertDocument.ReleaseImages();
  return written == static_cast<int>(brivon::alertDocument.alertas.size()) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Preview(argc, argv);
  } catch (...) {
    return 1;
  }
}
