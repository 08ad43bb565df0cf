#include "alerts/window/scaled_pictures.h"

#include <new>
#include <string>
#include <utility>

#include "alerts/window/text_drawing.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

int32_t WidthOf(Gdiplus::Bitmap* picture) {
  return picture ? static_cast<int32_t>(picture->GetWidth()) : 0;
}
int32_t HeightOf(Gdiplus::Bitmap* picture) {
  return picture ? static_cast<int32_t>(picture->GetHeight()) : 0;
}

UniqueBitmap ScaleInto(const AlertItem& item, const EntryPlacement& place, Gdiplus::ARGB backdrop) {
  if (!place.hasPicture || !item.image) return nullptr;
  return ScalePicture(*item.image, place.picture, backdrop);
}

}  // namespace

UniqueBitmap ScalePicture(Gdiplus::Bitmap& source, const PixelRect& at, Gdiplus::ARGB backdrop,
                          Gdiplus::InterpolationMode mode) {
  if (at.w <= 0 || at.h <= 0 || at.x < 0 || at.y < 0) return nullptr;
  // A surface of the screen's kind, as the window's kept copy is, reaching the picture's place on
  // the window: the scaled pixels are sampled by where they lie on the surface, so the picture is
  // drawn there (a surface of its own size, or a moved origin, gives other edges and roundings).
  HDC screen = ::GetDC(nullptr);
  if (!screen) return nullptr;
  UniqueDc dc(::CreateCompatibleDC(screen));
  UniqueDc cropDc(::CreateCompatibleDC(screen));
  UniqueGdiBitmap surface(::CreateCompatibleBitmap(screen, at.x + at.w, at.y + at.h));
  UniqueGdiBitmap crop(::CreateCompatibleBitmap(screen, at.w, at.h));
  ::ReleaseDC(nullptr, screen);
  if (!dc || !cropDc || !surface || !crop) return nullptr;
  HGDIOBJ previous = ::SelectObject(dc.get(), surface.get());
  if (!previous || previous == HGDI_ERROR) return nullptr;
  Gdiplus::Status drawn = Gdiplus::GenericError;
  {
    Gdiplus::Graphics graphics(dc.get());
    Gdiplus::SolidBrush beneath{Gdiplus::Color(backdrop)};
    graphics.FillRectangle(&beneath, at.x, at.y, at.w, at.h);
    if (mode != Gdiplus::InterpolationModeDefault) graphics.SetInterpolationMode(mode);
    drawn = graphics.DrawImage(&source, at.x, at.y, at.w, at.h);
  }
  HGDIOBJ previousCrop = ::SelectObject(cropDc.get(), crop.get());
  const bool copied = previousCrop && previousCrop != HGDI_ERROR &&
                      ::BitBlt(cropDc.get(), 0, 0, at.w, at.h, dc.get(), at.x, at.y, SRCCOPY);
  if (previousCrop && previousCrop != HGDI_ERROR) ::SelectObject(cropDc.get(), previousCrop);
  ::SelectObject(dc.get(), previous);
  if (drawn != Gdiplus::Ok || !copied) return nullptr;
  void* memory = Gdiplus::DllExports::GdipAlloc(sizeof(Gdiplus::Bitmap));
  if (memory == nullptr) return nullptr;
  // An opaque copy of the picture's pixels; the surfaces go here.
  UniqueBitmap scaled(::new (memory) Gdiplus::Bitmap(crop.get(), nullptr));
  if (scaled->GetLastStatus() != Gdiplus::Ok) return nullptr;
  return scaled;
}

UniqueBitmap ScaleUpdatePicture(Gdiplus::Bitmap& picture, const AlertLayout& layout, Gdiplus::ARGB background) {
  const PixelRect at = UpdatePictureFor(layout, WidthOf(&picture), HeightOf(&picture));
  return ScalePicture(picture, at, background, Gdiplus::InterpolationModeHighQualityBicubic);
}

void ScaledPictures::Add(const Gdiplus::Bitmap* source, UniqueBitmap scaled) {
  if (!source || !scaled) return;
  entries_.push_back(Entry{source, std::move(scaled)});
}

Gdiplus::Bitmap* ScaledPictures::Find(const Gdiplus::Bitmap* source, int32_t w, int32_t h) const {
  for (const Entry& entry : entries_) {
    if (entry.source == source && WidthOf(entry.scaled.get()) == w && HeightOf(entry.scaled.get()) == h) {
      return entry.scaled.get();
    }
  }
  return nullptr;
}

const ScaledPictures* CopiesToDraw(const ScaledPictures* scaled, int32_t width, int32_t height) {
  if (!scaled || !scaled->MadeFor(width, height)) return nullptr;
  return scaled;
}

UniqueBitmap ScaleEntryPicture(const AlertDocument& document, const Alert& alert, size_t index,
                               const AlertLayout& layout) {
  if (index >= alert.contenido.size()) return nullptr;
  const AlertItem& item = alert.contenido[index];
  if (!item.image) return nullptr;
  const int32_t w = WidthOf(item.image.get());
  const int32_t h = HeightOf(item.image.get());
  switch (AlertKindOf(alert)) {
    case AlertKind::BotonMultiple: {
      const GridGeometry grid = GridFor(layout, alert.contenido.size(), alert.columnas);
      return ScaleInto(item, GridCellFor(layout, grid, index, w, h), ColorFromHex(document.color_fondo));
    }
    case AlertKind::SoloMensaje:
      if (index != 0) return nullptr;
      return ScaleInto(item, SoloMensajeFor(layout, w, h), ColorFromHex(item.color_fondo));
    case AlertKind::BotonUnico: {
      if (index != 0) return nullptr;
      // Measured on a surface like the window's own, so the block comes out as the painter's.
      HDC screen = ::GetDC(nullptr);
      UniqueDc dc(::CreateCompatibleDC(screen));
      if (screen) ::ReleaseDC(nullptr, screen);
      if (!dc) return nullptr;
      Gdiplus::Graphics graphics(dc.get());
      const std::wstring text = AlertTextToWide(item.texto);
      CenteredTextMeasure measure(26.0f);
      return ScaleInto(item,
                       BotonUnicoFor(layout, w, h,
                                     [&](float width, float height) { return measure.Height(graphics, text, width, height); }),
                       ColorFromHex(item.color_fondo));
    }
    default:
      return nullptr;
  }
}

void ScaleAlertPictures(const AlertDocument& document, const Alert& alert, const AlertLayout& layout,
                        ScaledPictures& into) {
  into.SetScreen(layout.width, layout.height);
  for (size_t i = 0; i < alert.contenido.size(); ++i) {
    into.Add(alert.contenido[i].image.get(), ScaleEntryPicture(document, alert, i, layout));
  }
}

}  // namespace brivon
