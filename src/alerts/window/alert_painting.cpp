#include "alerts/window/alert_painting.h"

#include <optional>

#include "alerts/window/scaled_pictures.h"
#include "alerts/window/text_drawing.h"
#include "common/test_hooks.h"

namespace brivon {
namespace {

void Fill(Gdiplus::Graphics& graphics, const PixelRect& r, Gdiplus::ARGB color) {
  Gdiplus::SolidBrush brush{Gdiplus::Color(color)};
  graphics.FillRectangle(&brush, r.x, r.y, r.w, r.h);
}

Gdiplus::RectF TextRect(const PixelRect& r) {
  return Gdiplus::RectF(static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.w),
                        static_cast<float>(r.h));
}

// 0 x 0 for no picture, and for one that was fetched but does not decode.
void PictureSize(const AlertItem& item, int32_t& w, int32_t& h) {
  w = 0;
  h = 0;
  if (!item.image) return;
  w = static_cast<int32_t>(item.image->GetWidth());
  h = static_cast<int32_t>(item.image->GetHeight());
}

// Colour under the text, the text, and the clickable picture below it. Whether the picture had
// to be scaled here, without a copy scaled ahead.
bool PaintEntry(Gdiplus::Graphics& graphics, AlertItem& item, const EntryPlacement& place, float textSize,
                const ScaledPictures* scaled) {
  Fill(graphics, place.fill, ColorFromHex(item.color_fondo));
  DrawCenteredText(graphics, AlertTextToWide(item.texto), textSize, TextRect(place.text),
                   ColorFromHex(item.color_texto));
  item.hitRect = RECT{0, 0, 0, 0};
  if (place.hasPicture && item.image) {
    const PixelRect& p = place.picture;
    Gdiplus::Bitmap* copy = scaled ? scaled->Find(item.image.get(), p.w, p.h) : nullptr;
    // Without a copy scaled ahead, one is scaled here by the same filter: the same pixels.
    UniqueBitmap madeHere = copy ? nullptr : ScalePicture(*item.image, p.w, p.h, std::nullopt);
    if (madeHere) copy = madeHere.get();
    graphics.DrawImage(copy ? copy : item.image.get(), p.x, p.y, p.w, p.h);
    item.hitRect = HitRectOf(p);
    return madeHere != nullptr;
  }
  return false;
}

// Alert's place in document, counted from 0; the number of alerts when it is not there.
size_t IndexIn(const AlertDocument& document, const Alert* alert) {
  size_t index = 0;
  while (index < document.alertas.size() && &document.alertas[index] != alert) ++index;
  return index;
}

}  // namespace

void PaintAlertFrame(Gdiplus::Graphics& graphics, const AlertLayout& layout, const AlertDocument& document,
                     const Alert* alert) {
  const FrameGeometry frame = FrameFor(layout);
  Fill(graphics, frame.background, ColorFromHex(document.color_fondo));
  Fill(graphics, frame.titleBand, ColorFromHex(document.color_titulo_fondo));
  DrawCenteredText(graphics, AlertTextToWide(document.titulo), 28.0f, TextRect(frame.titleBand),
                   ColorFromHex(document.color_titulo_texto));
  if (alert == nullptr || AlertKindOf(*alert) != AlertKind::UrlActualizar) {
    Fill(graphics, frame.closeBar, kCloseBarColor);
    DrawCenteredText(graphics, kCloseBarText, 20.0f, TextRect(frame.closeBar), kCloseBarTextColor);
  }
}

size_t PaintBotonMultiple(Gdiplus::Graphics& graphics, const AlertLayout& layout, Alert& alert,
                          const ScaledPictures* scaled) {
  const GridGeometry grid = GridFor(layout, alert.contenido.size(), alert.columnas);
  size_t scaledHere = 0;
  for (size_t i = 0; i < alert.contenido.size(); ++i) {
    AlertItem& item = alert.contenido[i];
    int32_t w = 0, h = 0;
    PictureSize(item, w, h);
    if (PaintEntry(graphics, item, GridCellFor(layout, grid, i, w, h), 18.0f, scaled)) ++scaledHere;
  }
  return scaledHere;
}

size_t PaintBotonUnico(Gdiplus::Graphics& graphics, const AlertLayout& layout, Alert& alert,
                       const ScaledPictures* scaled) {
  if (alert.contenido.empty()) return 0;
  AlertItem& item = alert.contenido.front();
  int32_t w = 0, h = 0;
  PictureSize(item, w, h);
  const std::wstring text = AlertTextToWide(item.texto);
  CenteredTextMeasure measure(26.0f);
  const EntryPlacement place = BotonUnicoFor(
      layout, w, h, [&](float width, float height) { return measure.Height(graphics, text, width, height); });
  return PaintEntry(graphics, item, place, 26.0f, scaled) ? 1 : 0;
}

size_t PaintSoloMensaje(Gdiplus::Graphics& graphics, const AlertLayout& layout, Alert& alert,
                        const ScaledPictures* scaled) {
  if (alert.contenido.empty()) return 0;
  AlertItem& item = alert.contenido.front();
  int32_t w = 0, h = 0;
  PictureSize(item, w, h);
  return PaintEntry(graphics, item, SoloMensajeFor(layout, w, h), 22.0f, scaled) ? 1 : 0;
}

void PaintAlert(Gdiplus::Graphics& graphics, const AlertLayout& layout, const AlertDocument& document, Alert* alert,
                const ScaledPictures* scaled) {
  PaintAlertFrame(graphics, layout, document, alert);
  if (alert == nullptr) return;
  for (AlertItem& item : alert->contenido) item.hitRect = RECT{0, 0, 0, 0};
  size_t scaledHere = 0;
  switch (AlertKindOf(*alert)) {
    case AlertKind::BotonMultiple:
      scaledHere = PaintBotonMultiple(graphics, layout, *alert, scaled);
      break;
    case AlertKind::BotonUnico:
      scaledHere = PaintBotonUnico(graphics, layout, *alert, scaled);
      break;
    case AlertKind::SoloMensaje:
      scaledHere = PaintSoloMensaje(graphics, layout, *alert, scaled);
      break;
    default:
      break;
  }
  for (size_t i = 0; i < scaledHere; ++i) {
    TestTraceScaled(IndexIn(document, alert), layout.width, layout.height, "window");
  }
}

}  // namespace brivon
