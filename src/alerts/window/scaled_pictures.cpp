#include "alerts/window/scaled_pictures.h"

#include <string>
#include <utility>

#include "alerts/window/picture_scaling.h"
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
  return ScalePicture(*item.image, place.picture.w, place.picture.h, backdrop);
}

}  // namespace

UniqueBitmap ScalePicture(Gdiplus::Bitmap& source, int32_t width, int32_t height,
                          std::optional<Gdiplus::ARGB> backdrop) {
  const int32_t sourceW = WidthOf(&source), sourceH = HeightOf(&source);
  if (width <= 0 || height <= 0 || sourceW <= 0 || sourceH <= 0) return nullptr;
  // Laid over its backdrop the copy is opaque, and drawn as it is, without blending.
  const Gdiplus::PixelFormat format = backdrop ? PixelFormat32bppRGB : PixelFormat32bppPARGB;
  UniqueBitmap scaled = MakeBitmap(width, height, format);
  if (!scaled || scaled->GetLastStatus() != Gdiplus::Ok) return nullptr;
  Gdiplus::Rect all(0, 0, sourceW, sourceH);
  Gdiplus::BitmapData from{};
  if (source.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &from) != Gdiplus::Ok) return nullptr;
  Gdiplus::Rect target(0, 0, width, height);
  Gdiplus::BitmapData to{};
  bool made = false;
  if (scaled->LockBits(&target, Gdiplus::ImageLockModeWrite, format, &to) == Gdiplus::Ok) {
    const ConstPixelRows in{static_cast<const uint32_t*>(from.Scan0), sourceW, sourceH, from.Stride / 4};
    const PixelRows out{static_cast<uint32_t*>(to.Scan0), width, height, to.Stride / 4};
    made = from.Stride > 0 && to.Stride > 0 && ScalePixels(in, out);
    if (made && backdrop) LayOverOpaque(out, *backdrop & 0xFFFFFF);
    made = scaled->UnlockBits(&to) == Gdiplus::Ok && made;
  }
  source.UnlockBits(&from);
  return made ? std::move(scaled) : nullptr;
}

UniqueBitmap ScaleUpdatePicture(Gdiplus::Bitmap& picture, const AlertLayout& layout, Gdiplus::ARGB background) {
  const PixelRect at = UpdatePictureFor(layout, WidthOf(&picture), HeightOf(&picture));
  return ScalePicture(picture, at.w, at.h, background);
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
